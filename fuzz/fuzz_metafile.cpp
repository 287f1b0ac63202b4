// Metafile reader and player under libFuzzer: any input must load or be
// refused with one of the program's exceptions, never crash, hang or read
// out of bounds. What loads is played into a small bitmap (the records'
// coordinates are arbitrary, so the rectangle, not the picture's own size,
// bounds the work).
#include <cstddef>
#include <cstdint>

#include "platform/core/Metafile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    TMemoryStream stream;
    if (size > 0) stream.WriteBuffer(data, static_cast<int64_t>(size));
    stream.SetPosition(0);
    TMetafile metafile;
    try {
        metafile.LoadFromStream(stream);
        TBitmap target;
        target.SetPixelFormat(TPixelFormat::pf32bit);
        target.SetSize(48, 32);
        target.Canvas().StretchDraw(Rect(0, 0, 48, 32), metafile);
        TMemoryStream out;
        metafile.SaveToStream(out);
    } catch (const Exception&) {
    }
    return 0;
}
