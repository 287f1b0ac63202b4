// Icon reader under libFuzzer: any input must load or be refused with one of
// the program's exceptions, never crash or read out of bounds. What loads is
// drawn, through the pixel path and through the masked-copy path.
#include <cstddef>
#include <cstdint>

#include "platform/core/Icon.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    TMemoryStream stream;
    if (size > 0) stream.WriteBuffer(data, static_cast<int64_t>(size));
    stream.SetPosition(0);
    TIcon icon;
    try {
        icon.LoadFromStream(stream);
        TBitmap target;
        target.SetPixelFormat(TPixelFormat::pf32bit);
        target.SetSize(40, 40);
        target.Canvas().StretchDraw(Rect(-3, 2, 37, 45), icon);
        // A small indexed target: mapping colours to a palette is the slow
        // part of that path, and not the icon reader's.
        TBitmap indexed;
        indexed.SetPixelFormat(TPixelFormat::pf4bit);
        indexed.SetSize(12, 12);
        indexed.Canvas().StretchDraw(Rect(1, 1, 11, 12), icon);
    } catch (const Exception&) {
    }
    return 0;
}
