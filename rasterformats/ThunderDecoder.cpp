#include "rasterformats/ThunderDecoder.h"

#include <algorithm>
#include <cstring>

namespace {

// Differences coded in two and in three bits; the codes 2 and 4 stand for
// no pixel.
constexpr int kDelta2[4] = {0, 1, 0, -1};
constexpr int kSkip2 = 2;
constexpr int kDelta3[8] = {0, 1, 2, 3, 0, -3, -2, -1};
constexpr int kSkip3 = 4;

}  // namespace

TThunderDecoder::TThunderDecoder(int32_t width) : width_(width < 0 ? 0 : width) {}

int64_t TThunderDecoder::Decode(const uint8_t*& source, uint8_t*& dest, int64_t packedSize, int64_t unpackedSize) {
    const int64_t rowBytes = (int64_t(width_) + 1) / 2;
    if (rowBytes == 0 || source == nullptr || dest == nullptr) return 0;
    const uint8_t* s = source;
    const uint8_t* const end = s + std::max<int64_t>(packedSize, 0);
    int64_t written = 0;
    for (int64_t row = 0; (row + 1) * rowBytes <= unpackedSize && s < end; ++row) {
        uint8_t* out = dest + row * rowBytes;
        std::memset(out, 0, static_cast<size_t>(rowBytes));
        int32_t count = 0, last = 0;
        // A pixel past the row's width is dropped: runs and difference
        // codes never reach into the next row.
        auto put = [&](int v) {
            last = v & 15;
            if (count >= width_) return;
            if (count & 1) out[count >> 1] |= static_cast<uint8_t>(last);
            else out[count >> 1] = static_cast<uint8_t>(last << 4);
            ++count;
        };
        while (count < width_ && s < end) {
            const uint8_t b = *s++;
            switch (b >> 6) {
                case 0:  // a run of the last pixel
                    for (int n = b & 0x3F; n > 0 && count < width_; --n) put(last);
                    break;
                case 1:
                    for (int shift = 4; shift >= 0; shift -= 2) {
                        const int code = (b >> shift) & 3;
                        if (code != kSkip2) put(last + kDelta2[code]);
                    }
                    break;
                case 2:
                    for (int shift = 3; shift >= 0; shift -= 3) {
                        const int code = (b >> shift) & 7;
                        if (code != kSkip3) put(last + kDelta3[code]);
                    }
                    break;
                default:
                    put(b);
                    break;
            }
        }
        written = (row + 1) * rowBytes;
    }
    return written;
}
