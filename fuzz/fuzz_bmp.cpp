// BMP reader under libFuzzer: any input must load or be refused with one of
// the program's exceptions, never crash or read out of bounds.
#include <cstddef>
#include <cstdint>

#include "platform/core/Graphics.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    TMemoryStream stream;
    if (size > 0) stream.WriteBuffer(data, static_cast<int64_t>(size));
    stream.SetPosition(0);
    TBitmap bitmap;
    try {
        bitmap.LoadFromStream(stream);
        // Touch what was loaded: every row, and for pictures of a sensible
        // size a conversion to 32 bits (a few tiny RLE files legitimately
        // claim over 100 million blank pixels; converting those only slows
        // the search).
        if (!bitmap.Empty()) {
            volatile uint8_t sink = 0;
            for (int32_t y = 0; y < bitmap.Height(); ++y) sink = sink + bitmap.ScanLine(y)[0];
            if (int64_t(bitmap.Width()) * bitmap.Height() <= 4000000) bitmap.SetPixelFormat(TPixelFormat::pf32bit);
        }
    } catch (const Exception&) {
    }
    return 0;
}
