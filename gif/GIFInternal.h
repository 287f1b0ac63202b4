// What the codec's own files share beyond the public header.
#pragma once

#include <cstdint>

namespace gifcodec {

// Progress texts.
inline constexpr const char* kLoading = "Loading...";
inline constexpr const char* kSaving = "Saving...";
inline constexpr const char* kRendering = "Rendering...";

// part x 100 / whole as the platform's MulDiv gives it (halves away from
// zero, -1 for a whole of 0), for 64-bit stream positions; as the progress
// notification's byte.
uint8_t Percent(int64_t part, int64_t whole);

}  // namespace gifcodec
