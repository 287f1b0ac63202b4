// PNG reader under libFuzzer. Each input is loaded as it is, then once more
// with every chunk's CRC made right, or mutations would rarely get past the
// CRC check into the chunks and the image data.
#include <zlib.h>

#include <vector>

#include "fuzz/RasterFuzz.h"
#include "rasterformats/Png.h"

namespace {

std::vector<uint8_t> WithRightCRCs(const uint8_t* data, size_t size) {
    std::vector<uint8_t> fixed(data, data + size);
    size_t at = 8;
    while (at + 12 <= size) {
        const uint32_t length = uint32_t(fixed[at]) << 24 | uint32_t(fixed[at + 1]) << 16 |
                                uint32_t(fixed[at + 2]) << 8 | fixed[at + 3];
        if (length > size - at - 12) break;
        const uint32_t crc = static_cast<uint32_t>(crc32(0, fixed.data() + at + 4, length + 4));
        uint8_t* stored = fixed.data() + at + 8 + length;
        stored[0] = uint8_t(crc >> 24), stored[1] = uint8_t(crc >> 16), stored[2] = uint8_t(crc >> 8), stored[3] = uint8_t(crc);
        at += 12 + length;
    }
    return fixed;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzRasterReader<TPNGGraphic>(data, size);
    const std::vector<uint8_t> fixed = WithRightCRCs(data, size);
    return FuzzRasterReader<TPNGGraphic>(fixed.data(), fixed.size());
}
