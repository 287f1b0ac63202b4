// What the benchmark drivers share: their command-line errors, whole-number
// options, the median of timed runs and the process's peak memory, and the
// lines that report the last two.

#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

namespace bench {

// The exit status of a bad command line.
constexpr int kBadArguments = 2;

// Thrown by Fail; the driver prints the message with its usage.
struct UsageError {
    std::string message;
};

[[noreturn]] void Fail(const std::string& message);

// A whole decimal integer, optionally signed, in [min, max]; `what` names it
// in the message of a UsageError.
int32_t ParseInt(const std::string& text, const std::string& what, int64_t min, int64_t max);

// The median of the values; 0 for none.
double Median(std::vector<double> values);

// Seconds from start until now.
double Since(std::chrono::steady_clock::time_point start);

// The process's peak resident memory so far (the kernel's high-water mark,
// which ResetPeak lowers to the present use).
double PeakResidentBytes();
void ResetPeak();
// The process's resident memory now.
double ResidentBytes();

// "median time: ... over N runs (fastest ..., slowest ...)" and "peak resident
// memory: ... MiB (... bytes per pixel)", for a picture of `pixels` pixels.
void PrintTimeAndPeak(const std::vector<double>& seconds, double peak, double pixels);

}  // namespace bench
