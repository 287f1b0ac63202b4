#include "platform/core/SysUtils.h"

#include <sys/stat.h>

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <limits>
#include <system_error>
#include <vector>

std::string Format(const char* format, ...) {
    va_list args;
    va_start(args, format);
    va_list copy;
    va_copy(copy, args);
    const int needed = std::vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    std::string result;
    if (needed > 0) {
        std::vector<char> buffer(static_cast<size_t>(needed) + 1);
        std::vsnprintf(buffer.data(), buffer.size(), format, args);
        result.assign(buffer.data(), static_cast<size_t>(needed));
    }
    va_end(args);
    return result;
}

int32_t StrToInt(const std::string& s) {
    const char* first = s.data();
    const char* last = s.data() + s.size();
    // from_chars takes '-' but not '+'; the platform accepts both.
    const bool plus = first != last && *first == '+';
    if (plus) ++first;
    int32_t value = 0;
    if (first == last || (plus && (*first == '-' || *first == '+')))
        throw EConvertError(Format("'%s' is not a valid integer value", s.c_str()));
    const auto [ptr, ec] = std::from_chars(first, last, value, 10);
    if (ec != std::errc() || ptr != last)
        throw EConvertError(Format("'%s' is not a valid integer value", s.c_str()));
    return value;
}

std::string IntToStr(int64_t value) { return std::to_string(value); }

std::string FloatToStr(long double value) {
    if (std::isnan(value)) return "NAN";
    if (std::isinf(value)) return value < 0 ? "-INF" : "INF";
    if (value == 0) return "0";

    // 15 significant digits in scientific form, independent of the C locale.
    char buffer[64];
    const auto res = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::scientific, 14);
    std::string sci(buffer, res.ptr);
    bool negative = false;
    if (!sci.empty() && sci[0] == '-') {
        negative = true;
        sci.erase(0, 1);
    }
    const size_t e = sci.find('e');
    const int exponent = std::atoi(sci.c_str() + e + 1);
    std::string digits;
    for (size_t i = 0; i < e; ++i)
        if (sci[i] != '.') digits += sci[i];
    while (digits.size() > 1 && digits.back() == '0') digits.pop_back();

    std::string out = negative ? "-" : "";
    if (exponent < -5 || exponent >= 15) {
        out += digits[0];
        if (digits.size() > 1) out += "." + digits.substr(1);
        out += "E" + std::to_string(exponent);
        return out;
    }
    if (exponent < 0) {
        out += "0." + std::string(static_cast<size_t>(-exponent - 1), '0') + digits;
        return out;
    }
    const size_t intDigits = static_cast<size_t>(exponent) + 1;
    if (digits.size() <= intDigits) {
        out += digits + std::string(intDigits - digits.size(), '0');
    } else {
        out += digits.substr(0, intDigits) + "." + digits.substr(intDigits);
    }
    return out;
}

long double StrToFloat(const std::string& s) {
    const std::string t = Trim(s);
    const char* first = t.data();
    const char* last = t.data() + t.size();
    if (first != last && *first == '+') ++first;
    long double value = 0;
    if (first == last || *first == '+')
        throw EConvertError(Format("'%s' is not a valid floating point value", s.c_str()));
    const auto [ptr, ec] = std::from_chars(first, last, value, std::chars_format::general);
    if (ec != std::errc() || ptr != last)
        throw EConvertError(Format("'%s' is not a valid floating point value", s.c_str()));
    return value;
}

std::string UpperCase(const std::string& s) {
    std::string r = s;
    for (char& c : r)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return r;
}

std::string LowerCase(const std::string& s) {
    std::string r = s;
    for (char& c : r)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return r;
}

int CompareText(const std::string& a, const std::string& b) {
    const size_t n = a.size() < b.size() ? a.size() : b.size();
    for (size_t i = 0; i < n; ++i) {
        unsigned char ca = static_cast<unsigned char>(a[i]);
        unsigned char cb = static_cast<unsigned char>(b[i]);
        if (ca >= 'a' && ca <= 'z') ca = static_cast<unsigned char>(ca - 'a' + 'A');
        if (cb >= 'a' && cb <= 'z') cb = static_cast<unsigned char>(cb - 'a' + 'A');
        if (ca != cb) return static_cast<int>(ca) - static_cast<int>(cb);
    }
    if (a.size() == b.size()) return 0;
    return a.size() < b.size() ? -1 : 1;
}

std::string Trim(const std::string& s) {
    size_t first = 0;
    size_t last = s.size();
    while (first < last && static_cast<unsigned char>(s[first]) <= ' ') ++first;
    while (last > first && static_cast<unsigned char>(s[last - 1]) <= ' ') --last;
    return s.substr(first, last - first);
}

namespace {
// Index of the extension's dot, or npos when the name part has none.
size_t ExtensionDot(const std::string& fileName) {
    const size_t dot = fileName.rfind('.');
    if (dot == std::string::npos) return dot;
    const size_t slash = fileName.rfind('/');
    if (slash != std::string::npos && slash > dot) return std::string::npos;
    return dot;
}
}  // namespace

std::string ChangeFileExt(const std::string& fileName, const std::string& ext) {
    const size_t dot = ExtensionDot(fileName);
    return (dot == std::string::npos ? fileName : fileName.substr(0, dot)) + ext;
}

std::string ExtractFileExt(const std::string& fileName) {
    const size_t dot = ExtensionDot(fileName);
    return dot == std::string::npos ? std::string() : fileName.substr(dot);
}

std::string ExtractFileName(const std::string& fileName) {
    const size_t slash = fileName.rfind('/');
    return slash == std::string::npos ? fileName : fileName.substr(slash + 1);
}

std::string ExtractFilePath(const std::string& fileName) {
    const size_t slash = fileName.rfind('/');
    return slash == std::string::npos ? std::string() : fileName.substr(0, slash + 1);
}

bool FileExists(const std::string& fileName) {
    struct stat st {};
    return !fileName.empty() && ::stat(fileName.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool DirectoryExists(const std::string& dirName) {
    struct stat st {};
    return !dirName.empty() && ::stat(dirName.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool ForceDirectories(const std::string& dirName) {
    if (dirName.empty()) return false;
    std::error_code ec;
    std::filesystem::create_directories(dirName, ec);
    return DirectoryExists(dirName);
}
