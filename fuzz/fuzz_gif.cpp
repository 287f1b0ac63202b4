// GIF reader under libFuzzer: any input must load or be refused with one of
// the program's exceptions, and whatever loads must render and paint,
// never crash, hang or read out of bounds. What loaded is saved by one of
// the encoders and must load again.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "gif/GIFPicture.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    TMemoryStream stream;
    if (size > 0) stream.WriteBuffer(data, static_cast<int64_t>(size));
    stream.SetPosition(0);
    TGIFPicture gif;
    try {
        gif.LoadFromStream(stream);
    } catch (const Exception&) {
    }
    if (gif.Empty()) return 0;
    try {
        // Rendering is worth exploring on pictures of a sensible size; a
        // few bytes can legitimately claim 67 million blank pixels.
        const TGIFSubImage* first = gif.Images()[0];
        if (int64_t(gif.Width()) * gif.Height() <= 250000 && int64_t(first->Width()) * first->Height() <= 250000) {
            TBitmap* bitmap = gif.FirstFrameBitmap();
            if (bitmap != nullptr && !bitmap->Empty()) {
                volatile uint8_t sink = 0;
                for (int32_t y = 0; y < bitmap->Height(); ++y) sink = sink + bitmap->ScanLine(y)[0];
            }
        }
        for (int i = 0; i < gif.Images().Count(); ++i) {
            TGIFSubImage* frame = gif.Images()[i];
            if (int64_t(frame->Width()) * frame->Height() > 250000) continue;
            TBitmap canvas;
            canvas.SetSize(17, 11);
            frame->Paint(canvas.Canvas(), Rect(-3, 2, 20, 9), true, i % 2 == 1);
        }
    } catch (const Exception&) {
    }
    // Writing: what was read is written by one of the encoders and must
    // read back with the same images. A frame whose indices lie beyond its
    // table is refused ("Color not in color table").
    // A larger logical screen is taken only when its frames' data backs
    // it, which the frames a failed load left need not do.
    if (gif.FramePixels() > 4000000 || int64_t(gif.Width()) * gif.Height() > int64_t(4096) * 4096) return 0;
    // A screen of width or height 0 takes frame 0's extent, and a frame
    // without pixels is not written: the file written then takes the first
    // written frame's extent, a screen its data may not back.
    const TGIFHeader& header = gif.Header();
    if ((header.Width() == 0 || header.Height() == 0) && gif.Images()[0]->IsEmpty()) return 0;
    TMemoryStream saved;
    try {
        gif.Encoding = static_cast<TGIFEncoding>(size % 2);
        gif.SaveToStream(saved);
    } catch (const GIFException&) {
        return 0;
    }
    saved.SetPosition(0);
    TGIFPicture reread;
    reread.LoadFromStream(saved);
    auto images = [](TGIFPicture& p) {
        std::vector<TGIFSubImage*> list;
        for (int i = 0; i < p.Images().Count(); ++i)
            if (!p.Images()[i]->IsEmpty()) list.push_back(p.Images()[i]);
        return list;
    };
    const std::vector<TGIFSubImage*> before = images(gif), after = images(reread);
    if (before.size() != after.size()) __builtin_trap();
    for (size_t i = 0; i < before.size(); ++i) {
        if (before[i]->FrameRect() != after[i]->FrameRect() || before[i]->DataSize() != after[i]->DataSize() ||
            std::memcmp(before[i]->Data(), after[i]->Data(), static_cast<size_t>(before[i]->DataSize())) != 0)
            __builtin_trap();
    }
    return 0;
}
