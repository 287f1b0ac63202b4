// JPEG decoder under libFuzzer: any input must load or be refused with
// EInvalidGraphic, never end the process, crash or read out of bounds.
#include <cstddef>
#include <cstdint>

#include "platform/core/Jpeg.h"

namespace {

// Whether a frame header anywhere in the data claims more than 16
// megapixels. Arithmetic-coded files may claim 8 megapixels and 4096 more
// pixels a byte (a flat one of any size takes a few hundred bytes), and
// decoding a quarter of a gigapixel of noise would only spend the run's
// time and memory on one input.
bool ClaimsAHugePicture(const uint8_t* data, size_t size) {
    for (size_t i = 0; i + 9 <= size; ++i) {
        if (data[i] != 0xFF || data[i + 1] < 0xC0 || data[i + 1] > 0xCF) continue;
        if (data[i + 1] == 0xC4 || data[i + 1] == 0xC8 || data[i + 1] == 0xCC) continue;
        const uint64_t height = (data[i + 5] << 8) | data[i + 6], width = (data[i + 7] << 8) | data[i + 8];
        if (width * height > (uint64_t(1) << 24)) return true;
    }
    return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (ClaimsAHugePicture(data, size)) return 0;
    TMemoryStream stream;
    if (size > 0) stream.WriteBuffer(data, static_cast<int64_t>(size));
    stream.SetPosition(0);
    TJPEGImage jpeg;
    try {
        jpeg.LoadFromStream(stream);
        TBitmap copy;
        copy.Assign(&jpeg);
    } catch (const Exception&) {
    }
    return 0;
}
