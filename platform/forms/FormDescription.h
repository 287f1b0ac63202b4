// The parsed form of a form description (format: resources/forms/FORMAT.md).
// Parsing needs no Qt; every error raises EFormError naming file and line.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/core/SysUtils.h"

QUILLARC_EXCEPTION(EFormError, Exception)

struct TFormObject;

struct TFormValue {
    enum TKind { vkInteger, vkFloat, vkString, vkIdent, vkList, vkCollection };
    TKind Kind = vkInteger;
    int64_t Integer = 0;
    long double Float = 0;
    std::string Text;                  // string contents, or the identifier
    std::vector<TFormValue> Items;     // list elements
    std::vector<TFormObject> Entries;  // collection items (name and class empty)
    std::string FileName;
    int Line = 0;

    // Checked accessors: a value of another kind raises EFormError
    // "<file>(<line>): <what> expected".
    int32_t AsInt() const;  // also rejects values outside int32
    long double AsFloat() const;  // integers too
    const std::string& AsString() const;
    const std::string& AsIdent() const;
    bool AsBool() const;  // True / False
    // A list of identifiers ([biSystemMenu, biMinimize]).
    std::vector<std::string> AsIdentList() const;
    std::vector<std::string> AsStringList() const;
    [[noreturn]] void Fail(const std::string& message) const;
};

struct TFormProperty {
    std::string Name;  // may be dotted: "Font.Name"
    TFormValue Value;
    int Line = 0;
};

struct TFormObject {
    std::string Name;
    std::string ClassName;
    std::vector<TFormProperty> Properties;
    std::vector<TFormObject> Children;
    std::string FileName;
    int Line = 0;
    // nullptr when absent.
    const TFormProperty* Find(const std::string& name) const;
};

// Parses one description (one top-level object). fileName is used in messages.
TFormObject ParseFormDescription(const std::string& text, const std::string& fileName);
