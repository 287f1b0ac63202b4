// One frame of a GIF picture: descriptor, local table and pixels, read and
// written, rendered into a bitmap with its transparency mask, and painted
// onto a canvas.
#include <algorithm>
#include <cstring>
#include <utility>

#include "gif/GIFInternal.h"
#include "gif/GIFPicture.h"
#include "gif/GIFReduce.h"
#include "platform/core/Numeric.h"

using namespace gifcodec;

TGIFSubImage::TGIFSubImage(TGIFPicture* owner)
    : TGIFItem(owner),
      colorMap_(std::make_unique<TGIFLocalColorMap>(this)),
      extensions_(std::make_unique<TGIFExtensionList>(owner)) {
    descriptor_[0] = ',';
}

TGIFSubImage::~TGIFSubImage() {
    if (owner_ != nullptr) owner_->Images().Remove(this);
    Clear();
    extensions_.reset();
    colorMap_.reset();
    DeleteObject(palette_);
    palette_ = nullptr;
}

void TGIFSubImage::SetWord(int offset, int value) {
    descriptor_[static_cast<size_t>(offset)] = static_cast<uint8_t>(value);
    descriptor_[static_cast<size_t>(offset) + 1] = static_cast<uint8_t>(value >> 8);
}

bool TGIFSubImage::IsEmpty() const { return pixels_.empty() || pixelSize_ == 0 || Height() == 0 || Width() == 0; }

TGIFColorMap& TGIFSubImage::EffectiveColorMap() {
    if (colorMap_->Count() > 0 || owner_->GlobalColorMap().Count() == 0) return *colorMap_;
    return owner_->GlobalColorMap();
}

TGIFVersion TGIFSubImage::RequiredVersion() const {
    if (colorMap_->Sorted()) return gv89a;
    TGIFVersion version = gv87a;
    for (int i = 0; i < extensions_->Count(); ++i)
        version = std::max(version, extensions_->Items(i)->RequiredVersion());
    return version;
}

// ------------------------------------------------------------ storage

void TGIFSubImage::PlaceFrame(int left, int top, int width, int height) {
    // The descriptor holds 16-bit values: larger ones are refused, not wrapped.
    auto inWord = [](int v) { return v >= 0 && v <= 0xFFFF; };
    // The picture would have to grow past 16 bits to hold it.
    if (!inWord(left) || !inWord(top) || !inWord(width) || !inWord(height) || !inWord(left + width) ||
        !inWord(top + height) ||
        int64_t(width) * height > kGIFMaxFramePixels)
        RaiseGIFError("Invalid image dimensions");
    const bool resized = width != Width() || height != Height();
    SetWord(1, left);
    SetWord(3, top);
    SetWord(5, width);
    SetWord(7, height);
    if (resized) {
        DropBitmap();
        DropMask();
        AllocatePixels();
    }
    bool warned = false;
    TGIFHeader& header = owner_->Header();
    if (header.Width() < left + width) {
        if (header.Width() > 0) {
            ReportWarning(1, "Image width too small for contained frames");
            warned = true;
        }
        owner_->SetWidth(left + width);
    }
    if (header.Height() < top + height) {
        if (header.Height() > 0) {
            ReportWarning(1, "Image height too small for contained frames");
            warned = true;
        }
        owner_->SetHeight(top + height);
    }
    if (warned) ReportWarning(1, "Image exceeds Logical Screen size");
}

uint8_t TGIFSubImage::PixelAt(int x, int y) {
    if (x < 0 || x >= Width() || y < 0 || y >= Height()) RaiseGIFError("Invalid pixel coordinates");
    RequirePixels();
    // Read where the pixels stand, without taking a copy of a shared block.
    return std::as_const(pixels_).data()[int64_t(y) * Width() + x];
}

uint8_t* TGIFSubImage::RowPixels(int y) {
    if (y < 0 || y >= Height()) RaiseGIFError("Invalid pixel coordinates");
    RequirePixels();
    return pixels_.data() + int64_t(y) * Width();
}

void TGIFSubImage::AllocatePixels(bool zeroed) {
    ReleasePixels();
    const int64_t size = int64_t(Width()) * Height();
    if (size == 0) return;
    if (size > kGIFMaxFramePixels) RaiseGIFError("Invalid image dimensions");
    owner_->ChargeFramePixels(0, size);
    try {
        pixels_ = TPixelBuffer::Allocate(static_cast<size_t>(size), zeroed);
    } catch (...) {
        owner_->ChargeFramePixels(size, 0);
        throw;
    }
    pixelSize_ = size;
}

void TGIFSubImage::ReleasePixels() {
    if (!pixels_.empty()) owner_->ChargeFramePixels(pixelSize_, 0);
    pixels_.Clear();
    pixelSize_ = 0;
}

void TGIFSubImage::RequirePixels() {
    if (pixels_.empty()) AllocatePixels();
    if (pixelSize_ == 0) RaiseGIFError("Image is empty");
}

void TGIFSubImage::RecreateBitmap() { bitmap_ = std::make_unique<TBitmap>(); }

void TGIFSubImage::DropBitmap() { bitmap_.reset(); }

void TGIFSubImage::DropMask() {
    mask_.reset();
    needMask_ = true;
}

bool TGIFSubImage::MaskReady() {
    if (needMask_ && transparent_) {
        DropBitmap();
        FrameBitmap();
    }
    return mask_ != nullptr;
}

void TGIFSubImage::Clear() {
    extensions_->Clear();
    colorMap_->RemoveAll();
    ReleasePixels();
    // Stored directly: an emptied frame neither moves nor grows its picture.
    SetWord(7, 0);
    SetWord(5, 0);
    transparent_ = false;
    graphicControl_ = nullptr;
    DropBitmap();
    DropMask();
    // The palette was built from the table just emptied.
    DeleteObject(palette_);
    palette_ = nullptr;
}

// ------------------------------------------------------------ palette

HPALETTE TGIFSubImage::GetPalette() {
    if (bitmap_ != nullptr)
        if (HPALETTE p = bitmap_->Palette()) return p;
    if (palette_ != nullptr) return palette_;
    if (owner_->DitherActive()) {
        palette_ = Create216ColorPalette();
        return palette_;
    }
    if (colorMap_->Count() > 0) {
        palette_ = colorMap_->MakePalette();
        return palette_;
    }
    // The picture's tables, not its first-frame bitmap: that bitmap may
    // carry frame 0's own table, which is not this frame's.
    return owner_->TablePalette();
}

void TGIFSubImage::SetPalette(HPALETTE palette) {
    if (palette == palette_) return;
    DeleteObject(palette_);
    palette_ = palette;
    if (bitmap_ != nullptr && bitmap_->Palette() != palette) {
        DropBitmap();
        owner_->PaletteModified = true;
        owner_->Changed(this);
    }
}

// ------------------------------------------------------------ file I/O

void TGIFSubImage::LoadFromStream(TStream& stream) {
    Clear();
    extensions_->LoadFromStream(stream, this);
    const int b = ReadOneByte(stream);
    if (b < 0) return;
    stream.Seek(-1, TSeekOrigin::soCurrent);
    if (b == ';' || b == 0) return;
    ReadExact(stream, descriptor_.data(), 10);
    if (Width() == 0 || Height() == 0) {
        SetWord(7, owner_->Height());
        SetWord(5, owner_->Width());
        ReportWarning(1, "Image exceeds Logical Screen size");
    }
    if (int64_t(Width()) * Height() > kGIFMaxFramePixels) RaiseGIFError("Invalid image dimensions");
    const uint8_t packed = descriptor_[9];
    if (packed & 0x80) colorMap_->ReadTable(stream, 2 << (packed & 7));
    const int64_t pixels = int64_t(Width()) * Height();
    owner_->ChargeLoadedFrame(pixels, MostLzwPixels(stream, pixels));
    DecodeFrameData(stream);
    if (RenderFramesOnLoad) FrameBitmap();
}

void TGIFSubImage::SaveToStream(TStream& stream) {
    extensions_->SaveToStream(stream);
    if (IsEmpty()) return;
    uint8_t& packed = descriptor_[9];
    if (colorMap_->Count() > 0)
        packed = static_cast<uint8_t>(0x80 + (colorMap_->Sorted() ? 0x20 : 0) + (ColorResolution() & 7));
    else
        packed &= 0x58;
    // Always the image separator, whatever stood where the image was read.
    std::array<uint8_t, 10> descriptor = descriptor_;
    descriptor[0] = ',';
    stream.WriteBuffer(descriptor.data(), 10);
    colorMap_->WriteTable(stream);
    EncodeFrameData(stream);
}

// ------------------------------------------------------------ rendering

void TGIFSubImage::ReportProgress(TProgressStage stage, uint8_t percent, bool redrawNow) {
    owner_->Progress(this, stage, percent, redrawNow, TRect{}, kRendering);
}

// However rendering ended, a palette that changed meanwhile is told.
void TGIFSubImage::EndRendering(uint8_t percent) {
    ReportProgress(TProgressStage::psEnding, percent, owner_->PaletteModified);
    if (owner_->PaletteModified) owner_->Changed(this);
}

TBitmap* TGIFSubImage::FrameBitmap() {
    if (bitmap_ != nullptr || IsEmpty()) return bitmap_.get();
    auto bitmap = std::make_unique<TBitmap>();
    if (RenderTo(*bitmap)) bitmap_ = std::move(bitmap);
    return bitmap_.get();
}

bool TGIFSubImage::RenderTo(TBitmap& bitmap) {
    ReportProgress(TProgressStage::psStarting, 0, false);
    try {
        if (owner_->DitherActive())
            RenderDithered(bitmap);
        else
            RenderPlain(bitmap);
    } catch (const EAbort&) {
        bitmap.ReleaseImage();
        EndRendering(0);
        return false;
    } catch (...) {
        EndRendering(0);
        throw;
    }
    EndRendering(100);
    return true;
}

void TGIFSubImage::RenderPlain(TBitmap& bitmap) {
    const int w = Width(), h = Height();
    // Large pictures: the bitmap gives up its pixels before the DIB is made.
    if (int64_t(w) * h > 500000) bitmap.SetPixelFormat(TPixelFormat::pf1bit);
    HPALETTE palette = GetPalette();
    const int colors = PaletteEntryCount(palette);
    if (colors == 0) RaiseGIFError("No global or local color table defined");
    TDIBWriter writer(bitmap, TPixelFormat::pf8bit, w, h, palette);

    uint8_t transparentIndex = 0;
    const bool wantMask = TakeMaskRequest(transparentIndex);
    const int64_t maskRowBytes = ((w + 15) >> 4) * 2;
    std::vector<uint8_t> maskBits;
    if (wantMask) maskBits.assign(static_cast<size_t>(maskRowBytes * h), 0);
    bool masked = false;

    // With a full table no index needs changing, and where the bitmap's
    // rows have no padding the bitmap shares the frame's pixels: neither
    // copies them until it is written.
    const bool shared = colors >= 256 && writer.ShareBits(pixels_);
    const uint8_t* source = std::as_const(pixels_).data();
    for (int y = 0; y < h; ++y, source += w) {
        if (y % 32 == 0) ReportProgress(TProgressStage::psRunning, static_cast<uint8_t>(num::MulDiv(y, 100, h)), false);
        if (!shared) {
            uint8_t* row = writer.RowAddress(y);
            if (colors >= 256) {
                std::memcpy(row, source, static_cast<size_t>(w));
            } else {
                // An index beyond the table shows entry 0.
                for (int x = 0; x < w; ++x) {
                    const uint8_t v = source[x];
                    row[x] = v < colors ? v : 0;
                }
            }
        }
        if (wantMask) {
            uint8_t* bits = maskBits.data() + maskRowBytes * y;
            for (int x = 0; x < w; ++x) {
                if (source[x] != transparentIndex) continue;
                bits[x >> 3] |= static_cast<uint8_t>(0x80 >> (x & 7));
                masked = true;
            }
        }
    }
    writer.Close();
    if (masked) mask_ = CreateMonochromeBitmap(w, h, maskBits.data());
}

bool TGIFSubImage::TakeMaskRequest(uint8_t& transparentIndex) {
    const bool wanted = needMask_ && transparent_ && graphicControl_ != nullptr;
    needMask_ = false;
    transparentIndex = graphicControl_ != nullptr ? graphicControl_->TransparentIndex() : 0;
    return wanted;
}

void TGIFSubImage::RenderDithered(TBitmap& bitmap) {
    const int w = Width(), h = Height();
    if (int64_t(w) * h > 500000) bitmap.SetPixelFormat(TPixelFormat::pf1bit);
    HPALETTE palette = GetPalette();
    TDIBWriter writer(bitmap, TPixelFormat::pf8bit, w, h, palette);
    TNetscapeColorLookup lookup(palette);
    TFloydSteinbergDitherer ditherer(w, lookup);
    TGIFColorMap& map = EffectiveColorMap();
    std::array<TColor, 256> colors;
    for (int i = 0; i < 256; ++i) colors[static_cast<size_t>(i)] = map.ColorOrFirst(i);

    uint8_t transparentIndex = 0;
    const bool wantMask = TakeMaskRequest(transparentIndex);
    // Transparent pixels are not dithered: they take the cube entry of the
    // transparent colour.
    uint8_t filler = 0;
    if (wantMask) {
        const TColor c = colors[transparentIndex];
        uint8_t r, g, b;
        filler = lookup.NearestIndex(GetRValue(c), GetGValue(c), GetBValue(c), r, g, b);
    }
    const int64_t maskRowBytes = ((w + 15) >> 4) * 2;
    std::vector<uint8_t> maskBits;
    if (wantMask) maskBits.assign(static_cast<size_t>(maskRowBytes * h), 0);
    bool masked = false;

    for (int y = 0; y < h; ++y) {
        if (y % 32 == 0) ReportProgress(TProgressStage::psRunning, static_cast<uint8_t>(num::MulDiv(y, 100, h)), false);
        uint8_t* row = writer.RowAddress(y);
        const uint8_t* source = std::as_const(pixels_).data() + int64_t(y) * w;
        uint8_t* bits = wantMask ? maskBits.data() + maskRowBytes * y : nullptr;
        if (wantMask) std::memset(row, filler, static_cast<size_t>(w));
        uint8_t r, g, b;
        for (int x = ditherer.Column(); x >= 0 && x < w; x = ditherer.Column()) {
            const uint8_t v = source[x];
            if (wantMask && v == transparentIndex) {
                bits[x >> 3] |= static_cast<uint8_t>(0x80 >> (x & 7));
                masked = true;
                ditherer.StepColumn();
                continue;
            }
            const TColor c = colors[v];
            row[x] = ditherer.DitherPixel(GetRValue(c), GetGValue(c), GetBValue(c), r, g, b);
        }
        ditherer.EndRow();
    }
    writer.Close();
    if (masked) mask_ = CreateMonochromeBitmap(w, h, maskBits.data());
}

// ------------------------------------------------------------ painting

void MaskedStretchBlt(TCanvas& dest, const TRect& destRect, const TBitmap& source, const TRect& srcRect,
                      const TBitmap& mask) {
    const TCopyMode saved = dest.CopyMode;
    dest.CopyMode = cmSrcCopy;
    try {
        dest.StretchBlt(destRect, source, srcRect, &mask);
    } catch (...) {
        dest.CopyMode = saved;
        throw;
    }
    dest.CopyMode = saved;
}

TRect TGIFSubImage::ScaledRect(const TRect& r) const {
    const int32_t pw = owner_->Width(), ph = owner_->Height();
    return Rect(r.Left + num::MulDiv(Left(), r.Width(), pw), r.Top + num::MulDiv(Top(), r.Height(), ph),
                r.Left + num::MulDiv(Left() + Width(), r.Width(), pw),
                r.Top + num::MulDiv(Top() + Height(), r.Height(), ph));
}

void TGIFSubImage::Paint(TCanvas& canvas, const TRect& rect, bool transparent, bool tile) {
    PaintStretched(canvas, tile ? rect : ScaledRect(rect), transparent, tile);
}

namespace {

// Tiles of the frame's size, the first at the frame's place in r, spaced by
// the logical screen, while they start inside r. Tiles wholly outside the
// canvas are passed over.
template <class Draw>
void ForEachTile(const TCanvas& canvas, const TRect& r, int32_t left, int32_t top, int32_t width, int32_t height,
                 int32_t stepX, int32_t stepY, Draw draw) {
    if (width <= 0 || height <= 0) return;
    TRect clip = canvas.ClipRect();
    if (clip.IsEmpty()) clip = r;  // a canvas without pixels (a recording one)
    const int64_t right = std::min<int64_t>(r.Right, clip.Right), bottom = std::min<int64_t>(r.Bottom, clip.Bottom);
    auto firstFrom = [](int64_t start, int64_t step, int64_t size, int64_t limit) {
        if (step <= 0 || start + size > limit) return start;
        return start + (limit - size - start) / step * step;
    };
    const int64_t x0 = firstFrom(int64_t(r.Left) + left, stepX, width, clip.Left);
    const int64_t y0 = firstFrom(int64_t(r.Top) + top, stepY, height, clip.Top);
    for (int64_t y = y0; y < bottom; y += stepY) {
        for (int64_t x = x0; x < right; x += stepX) {
            draw(Bounds(static_cast<int32_t>(x), static_cast<int32_t>(y), width, height));
            if (stepX <= 0) break;
        }
        if (stepY <= 0) break;
    }
}

}  // namespace

void TGIFSubImage::PaintStretched(TCanvas& canvas, const TRect& rect, bool transparent, bool tile) {
    // A frame that lands wholly outside the canvas is not rendered at all
    // (a canvas without pixels reports no clip area and is always drawn on).
    const TRect clip = canvas.ClipRect();
    TRect visible;
    if (!tile && !clip.IsEmpty() && !IntersectRect(visible, rect, clip)) return;
    const int32_t stepX = owner_->Width(), stepY = owner_->Height();
    if (transparent && transparent_ && MaskReady()) {
        TBitmap* frame = FrameBitmap();
        if (frame == nullptr) return;
        const TRect source = Rect(0, 0, Width(), Height());
        if (!tile) {
            MaskedStretchBlt(canvas, rect, *frame, source, *mask_);
        } else {
            ForEachTile(canvas, rect, Left(), Top(), Width(), Height(), stepX, stepY,
                        [&](const TRect& t) { MaskedStretchBlt(canvas, t, *frame, source, *mask_); });
        }
        canvas.Changed();
        return;
    }
    TBitmap* frame = FrameBitmap();
    if (frame == nullptr) return;
    if (tile)
        ForEachTile(canvas, rect, Left(), Top(), Width(), Height(), stepX, stepY,
                    [&](const TRect& t) { canvas.StretchDraw(t, *frame); });
    else
        canvas.StretchDraw(rect, *frame);
}
