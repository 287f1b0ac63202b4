#include "app/Image32.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <utility>

#include "app/PixelOps.h"

QUILLARC_DEFINE_GRAPHIC(TBitmap32, TBitmap)

namespace {
using pix::Blend;
}  // namespace

TBitmap32::TBitmap32() { SetPixelFormat(TPixelFormat::pf32bit); }

void TBitmap32::Assign(const TPersistent* source) {
    // A 24- or 32-bit bitmap is widened on the way, instead of copied first
    // and converted after.
    if (const auto* bitmap = dynamic_cast<const TBitmap*>(source); bitmap && AssignConverted(*bitmap, TPixelFormat::pf32bit))
        return;
    TBitmap::Assign(source);
    SetPixelFormat(TPixelFormat::pf32bit);
}

void TBitmap32::LoadFromFile(const std::string& fileName) {
    TBitmap::LoadFromFile(fileName);
    SetPixelFormat(TPixelFormat::pf32bit);
}

void TBitmap32::BlendPixel(uint32_t& dest, uint32_t src) { Blend(dest, src); }

void TBitmap32::SetAlphaChannel(TBitmap& bitmap, uint8_t value) {
    // Writing a fourth byte per pixel into a narrower format would run past
    // its rows, so the bitmap is made 32-bit first.
    pix::Ensure32(bitmap);
    const int32_t w = bitmap.Width();
    pix::ForEachRow(0, bitmap.Height(), nullptr, [&](int32_t y) {
        uint8_t* row = bitmap.ScanLine(y);
        for (int32_t x = 0; x < w; ++x) row[4 * x + pix::kAlpha] = value;
    });
}

void TBitmap32::DrawTo(int32_t x, int32_t y, TBitmap& dest) const {
    // A source that is not (or no longer) 32-bit, or that is the destination
    // itself, is read from a 32-bit copy so that the reads stay inside its
    // rows and do not see the blend's own writes.
    std::unique_ptr<TBitmap32> copy;
    const TBitmap* src = this;
    if (PixelFormat() != TPixelFormat::pf32bit || &dest == static_cast<const TBitmap*>(this)) {
        copy = std::make_unique<TBitmap32>();
        copy->Assign(this);
        src = copy.get();
    }

    pix::Ensure32(dest);
    SetAlphaChannel(dest, 255);

    TRect area;
    const TRect destRect = Rect(0, 0, dest.Width(), dest.Height());
    const int64_t right = int64_t(x) + src->Width(), bottom = int64_t(y) + src->Height();
    const TRect srcRect = Rect(x, y, static_cast<int32_t>(std::min<int64_t>(right, INT32_MAX)),
                               static_cast<int32_t>(std::min<int64_t>(bottom, INT32_MAX)));
    if (!IntersectRect(area, destRect, srcRect)) return;

    pix::ForEachRow(area.Top, area.Bottom, nullptr, [&](int32_t row) {
        uint32_t* d = PixelRow(dest, row);
        const uint32_t* s = PixelRow(*src, row - y);
        for (int32_t col = area.Left; col < area.Right; ++col) Blend(d[col], s[col - x]);
    });
}

bool TBitmap32::SwapPixels(TBitmap32& other) {
    if (PixelFormat() != TPixelFormat::pf32bit || other.PixelFormat() != TPixelFormat::pf32bit) return false;
    std::swap(pixels_, other.pixels_);
    std::swap(width_, other.width_);
    std::swap(height_, other.height_);
    std::swap(stride_, other.stride_);
    Changed(this);
    other.Changed(&other);
    return true;
}

void TBitmap32::TakePicture(TBitmap& other) {
    if (&other == this) return;
    if (other.PixelFormat() != TPixelFormat::pf32bit) {
        Assign(&other);
        return;
    }
    TakeOver(other);
}

// ------------------------------------------------------------ shared pixel helpers

namespace pix {

void FillBorderColours(TBitmap& bmp) {
    const int32_t w = bmp.Width(), h = bmp.Height();
    if (w < 2 || h < 2) return;
    auto copyColour = [](uint32_t& to, uint32_t from) { to = (to & kAlphaMask) | (from & kColourMask); };
    for (int32_t y = 1; y <= h - 2; ++y) {
        uint32_t* row = PixelRow(bmp, y);
        copyColour(row[0], row[1]);
        copyColour(row[w - 1], row[w - 2]);
    }
    auto copyRowColours = [&](int32_t to, int32_t from) {
        uint32_t* d = PixelRow(bmp, to);
        const uint32_t* s = PixelRow(bmp, from);
        for (int32_t x = 0; x < w; ++x) copyColour(d[x], s[x]);
    };
    copyRowColours(0, 1);
    copyRowColours(h - 1, h - 2);
}

namespace {
thread_local std::unique_ptr<TBitmap32> scratch;
}

TBitmap32& Scratch(int32_t width, int32_t height) {
    if (!scratch) scratch = std::make_unique<TBitmap32>();
    TBitmap32& s = *scratch;
    if (s.Width() != width || s.Height() != height || s.PixelFormat() != TPixelFormat::pf32bit) {
        // Resizing would keep (copy) the old pixels, which nobody needs.
        s.ReleaseImage();
        s.SetPixelFormat(TPixelFormat::pf32bit);
        s.SetSize(width, height);
    }
    return s;
}

void CommitScratch(TBitmap& bmp) {
    if (!scratch) return;
    TBitmap32& s = *scratch;
    if (auto* b32 = dynamic_cast<TBitmap32*>(&bmp); b32 && b32->SwapPixels(s)) return;
    bmp.Assign(&s);
    Ensure32(bmp);
}

void ReleaseScratch() { scratch.reset(); }

}  // namespace pix
