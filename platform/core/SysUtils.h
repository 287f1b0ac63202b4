// Run-time basics that stand in for the desktop platform's system unit:
// the exception hierarchy and the string helpers the program relies on.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

// Base of every exception the program raises. Message is what the
// application's default handler shows in its message box.
class Exception : public std::exception {
public:
    explicit Exception(std::string message) : message_(std::move(message)) {}
    const char* what() const noexcept override { return message_.c_str(); }
    const std::string& Message() const { return message_; }
    virtual const char* ClassName() const { return "Exception"; }

private:
    std::string message_;
};

#define QUILLARC_EXCEPTION(Name, Base)                                   \
    class Name : public Base {                                           \
    public:                                                              \
        using Base::Base;                                                \
        const char* ClassName() const override { return #Name; }         \
    };

// A silent abort: the default handler shows nothing for it.
QUILLARC_EXCEPTION(EAbort, Exception)
QUILLARC_EXCEPTION(EAbstractError, Exception)
QUILLARC_EXCEPTION(EConvertError, Exception)
QUILLARC_EXCEPTION(EOutOfMemory, Exception)
QUILLARC_EXCEPTION(EOutOfResources, Exception)
QUILLARC_EXCEPTION(EInvalidGraphic, Exception)
QUILLARC_EXCEPTION(EInvalidGraphicOperation, Exception)
QUILLARC_EXCEPTION(EStreamError, Exception)
QUILLARC_EXCEPTION(EReadError, EStreamError)
QUILLARC_EXCEPTION(EWriteError, EStreamError)
QUILLARC_EXCEPTION(EFOpenError, EStreamError)
QUILLARC_EXCEPTION(EFCreateError, EStreamError)
QUILLARC_EXCEPTION(EInOutError, Exception)
QUILLARC_EXCEPTION(EListError, Exception)
QUILLARC_EXCEPTION(EThread, Exception)

// printf-style formatting into a std::string.
std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Decimal integer text, optional leading '+' or '-'. Anything else raises
// EConvertError with the text "'<s>' is not a valid integer value".
int32_t StrToInt(const std::string& s);
std::string IntToStr(int64_t value);
// General floating-point format: up to 15 significant digits, no trailing
// zeros, '.' as decimal separator.
std::string FloatToStr(long double value);
long double StrToFloat(const std::string& s);

std::string UpperCase(const std::string& s);  // ASCII only
std::string LowerCase(const std::string& s);
int CompareText(const std::string& a, const std::string& b);  // ASCII, ignoring case
// Removes leading and trailing blanks and control characters (<= ' ').
std::string Trim(const std::string& s);

// Replaces the extension (from the last '.' after the last '/') or appends one.
std::string ChangeFileExt(const std::string& fileName, const std::string& ext);
std::string ExtractFileExt(const std::string& fileName);
std::string ExtractFileName(const std::string& fileName);
std::string ExtractFilePath(const std::string& fileName);  // keeps the trailing '/'
bool FileExists(const std::string& fileName);       // a regular file (not a folder)
bool DirectoryExists(const std::string& dirName);
bool ForceDirectories(const std::string& dirName);  // creates missing parents too
