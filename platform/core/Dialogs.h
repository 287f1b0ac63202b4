// The few calls below the forms that wait for a person. The form layer
// installs a handler that shows a real message box; tests install one that
// answers from a script. Without a handler the text goes to standard error.
#pragma once

#include <functional>
#include <string>

constexpr unsigned MB_OK = 0x0;
constexpr unsigned MB_ICONWARNING = 0x30;
constexpr unsigned MB_ICONERROR = 0x10;
constexpr unsigned MB_ICONINFORMATION = 0x40;
constexpr int IDOK = 1;

using TMessageBoxHandler =
    std::function<int(const std::string& text, const std::string& caption, unsigned flags)>;

// Returns the previous handler.
TMessageBoxHandler SetMessageBoxHandler(TMessageBoxHandler handler);
// A message box with no owner window.
int MessageBoxA(const std::string& text, const std::string& caption, unsigned flags = MB_OK);
