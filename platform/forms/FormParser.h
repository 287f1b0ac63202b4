// Reader of the form-description text format (resources/forms/FORMAT.md)
// into a tree of objects; the form loader turns the tree into controls.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

struct TFormValue {
    enum Kind { Integer, String, Identifier, Set, List };
    Kind kind = Integer;
    int64_t integer = 0;
    std::string text;                // String and Identifier
    std::vector<std::string> items;  // Set (identifiers) and List (strings)
};

struct TFormProperty {
    std::string name;
    TFormValue value;
    int line = 0;
};

struct TFormItem {
    std::vector<TFormProperty> properties;
    int line = 0;
};

struct TFormObject {
    std::string name;
    std::string className;
    int line = 0;
    std::vector<TFormProperty> properties;
    std::vector<TFormItem> items;
    std::vector<std::unique_ptr<TFormObject>> children;
};

// Raises Exception "<fileName>:<line>: <what>" on any syntax error.
std::unique_ptr<TFormObject> ParseFormDescription(const std::string& text, const std::string& fileName);

// "<fileName>:<line>: <what>" as an Exception.
[[noreturn]] void FormError(const std::string& fileName, int line, const std::string& what);
