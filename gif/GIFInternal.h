// What the codec's own files share beyond the public header.
#pragma once

#include <cstdint>
#include <vector>

class TStream;

namespace gifcodec {

// Progress texts.
inline constexpr const char* kLoading = "Loading...";
inline constexpr const char* kSaving = "Saving...";
inline constexpr const char* kRendering = "Rendering...";

// part x 100 / whole as the platform's MulDiv gives it (halves away from
// zero, -1 for a whole of 0), for 64-bit stream positions; as the progress
// notification's byte.
uint8_t Percent(int64_t part, int64_t whole);

// The rows of an interlaced image in the order its data holds them: the
// four passes, from row 0 every 8th, from row 4 every 8th, from row 2 every
// 4th, from row 1 every 2nd.
inline std::vector<int32_t> InterlacedRowOrder(int32_t height) {
    std::vector<int32_t> rows;
    rows.reserve(static_cast<size_t>(height > 0 ? height : 0));
    static constexpr int32_t kStart[4] = {0, 4, 2, 1}, kStep[4] = {8, 8, 4, 2};
    for (int pass = 0; pass < 4; ++pass)
        for (int32_t row = kStart[pass]; row < height; row += kStep[pass]) rows.push_back(row);
    return rows;
}

// The most pixels the image data at the stream's position (code size and
// sub-blocks) could make, counted until it reaches `wanted`; the stream is
// left where it was. A code size the decoder does not take (0, or above
// 11) raises "Invalid GIF data".
int64_t MostLzwPixels(TStream& stream, int64_t wanted);

}  // namespace gifcodec
