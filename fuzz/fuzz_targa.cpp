// Truevision reader under libFuzzer; what loads is also written, packed and
// raw, and must read back to the same pixels.
#include <cstring>

#include "fuzz/RasterFuzz.h"
#include "rasterformats/Targa.h"

namespace {

void RoundTrip(TTargaGraphic& loaded) {
    if (int64_t(loaded.Width()) * loaded.Height() > 1000000) return;
    for (bool compressed : {true, false}) {
        TMemoryStream written;
        loaded.SaveToStreamCompressed(written, compressed);
        written.SetPosition(0);
        TTargaGraphic back;
        back.LoadFromStream(written);
        if (back.Width() != loaded.Width() || back.Height() != loaded.Height() ||
            back.PixelFormat() != loaded.PixelFormat())
            std::abort();
        const size_t bytes = (size_t(loaded.Width()) * BitsPerPixel(loaded.PixelFormat()) + 7) / 8;
        for (int32_t y = 0; y < loaded.Height(); ++y)
            if (std::memcmp(back.ScanLine(y), loaded.ScanLine(y), bytes) != 0) std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    return FuzzRasterReader<TTargaGraphic>(data, size, RoundTrip);
}
