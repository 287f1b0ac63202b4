#include "bench/bench_support.h"

#include <sys/resource.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>

namespace bench {

void Fail(const std::string& message) { throw UsageError{message}; }

int32_t ParseInt(const std::string& text, const std::string& what, int64_t min, int64_t max) {
    size_t i = (!text.empty() && (text[0] == '-' || text[0] == '+')) ? 1 : 0;
    if (i == text.size() || text.size() > 12) Fail(what + " must be a whole number, not \"" + text + "\"");
    for (size_t k = i; k < text.size(); ++k)
        if (text[k] < '0' || text[k] > '9') Fail(what + " must be a whole number, not \"" + text + "\"");
    const int64_t v = std::strtoll(text.c_str(), nullptr, 10);
    if (v < min || v > max)
        Fail(what + " must lie between " + std::to_string(min) + " and " + std::to_string(max) + ", not " + text);
    return static_cast<int32_t>(v);
}

double Median(std::vector<double> values) {
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

double Since(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

double PeakResidentBytes() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmHWM:", 0) == 0) return std::strtod(line.c_str() + 6, nullptr) * 1024.0;
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_maxrss) * 1024.0;  // kilobytes on Linux
}

double ResidentBytes() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmRSS:", 0) == 0) return std::strtod(line.c_str() + 6, nullptr) * 1024.0;
    return 0;
}

void ResetPeak() { std::ofstream("/proc/self/clear_refs") << "5"; }

void PrintTimeAndPeak(const std::vector<double>& seconds, double peak, double pixels) {
    const size_t n = seconds.size();
    const auto [fastest, slowest] = std::minmax_element(seconds.begin(), seconds.end());
    std::printf("median time: %.4f s over %zu run%s (fastest %.4f s, slowest %.4f s)\n", Median(seconds), n,
                n == 1 ? "" : "s", n ? *fastest : 0.0, n ? *slowest : 0.0);
    std::printf("peak resident memory: %.1f MiB (%.1f bytes per pixel)\n", peak / (1024.0 * 1024.0),
                pixels > 0 ? peak / pixels : 0.0);
}

}  // namespace bench
