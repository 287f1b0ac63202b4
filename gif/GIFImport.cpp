// Building a frame from other pictures: another frame, bitmaps of any
// format (reduced to at most 256 colours where they hold more), icons,
// metafiles and other graphics, with their transparency.
#include <algorithm>
#include <cstring>
#include <utility>

#include "gif/GIFInternal.h"
#include "gif/GIFReduce.h"
#include "platform/core/Icon.h"
#include "platform/core/Metafile.h"
#include "platform/core/Numeric.h"

using namespace gifcodec;

namespace {

constexpr const char* kConverting = "Converting...";

// The graphic drawn at (0, 0) onto a 24-bit bitmap of its size.
void DrawGraphicToBitmap(TBitmap& bitmap, const TGraphic& graphic) {
    bitmap.SetHeight(graphic.Height());
    bitmap.SetWidth(graphic.Width());
    bitmap.SetPixelFormat(TPixelFormat::pf24bit);
    bitmap.Canvas().Draw(0, 0, const_cast<TGraphic&>(graphic));
}

// The same over a background of one colour.
void DrawOnBackground(TBitmap& bitmap, const TGraphic& graphic, TColor background) {
    bitmap.SetPixelFormat(TPixelFormat::pf24bit);
    bitmap.SetSize(graphic.Width(), graphic.Height());
    TCanvas& canvas = bitmap.Canvas();
    canvas.Brush.Color = background;
    canvas.FillRect(canvas.ClipRect());
    canvas.Draw(0, 0, const_cast<TGraphic&>(graphic));
}

}  // namespace

void TGIFSubImage::ReportConverting(TProgressStage stage, uint8_t percent, bool redrawNow) {
    owner_->Progress(this, stage, percent, redrawNow, TRect{}, kConverting);
}

void TGIFSubImage::Assign(const TPersistent* source) {
    if (source == this) return;
    if (source == nullptr) {
        Clear();
    } else if (const auto* frame = dynamic_cast<const TGIFSubImage*>(source)) {
        AssignFrame(*frame);
    } else if (const auto* bitmap = dynamic_cast<const TBitmap*>(source)) {
        AssignBitmap(*bitmap);
    } else if (const auto* graphic = dynamic_cast<const TGraphic*>(source)) {
        AssignGraphic(*graphic);
    } else if (const auto* picture = dynamic_cast<const TPicture*>(source)) {
        Assign(picture->Graphic());
    } else {
        TGIFItem::Assign(source);
    }
}

void TGIFSubImage::AssignTo(TPersistent* dest) const {
    if (auto* bitmap = dynamic_cast<TBitmap*>(dest)) {
        bitmap->Assign(const_cast<TGIFSubImage*>(this)->FrameBitmap());
        return;
    }
    TGIFItem::AssignTo(dest);
}

void TGIFSubImage::AssignFrame(const TGIFSubImage& source) {
    Clear();
    auto& src = const_cast<TGIFSubImage&>(source);
    if (src.IsEmpty()) return;
    // Size and place are copied as they stand, without growing this
    // picture's screen.
    if (int64_t(src.Width()) * src.Height() > kGIFMaxFramePixels) RaiseGIFError("Invalid image dimensions");
    descriptor_ = src.descriptor_;
    transparent_ = src.transparent_;
    AllocatePixels(false);
    std::memcpy(pixels_.data(), std::as_const(src.pixels_).data(), static_cast<size_t>(pixelSize_));
    colorMap_->Assign(src.colorMap_.get());
    if (src.extensions_->Count() > 0) {
        TMemoryStream stream;
        src.extensions_->SaveToStream(stream);
        stream.SetPosition(0);
        extensions_->LoadFromStream(stream, this);
    }
    if (src.bitmap_ != nullptr) {
        RecreateBitmap();
        bitmap_->Assign(src.FrameBitmap());
    }
}

void TGIFSubImage::AssignBitmap(const TBitmap& source) {
    Clear();
    if (source.Empty()) return;
    SetWidth(source.Width());
    SetHeight(source.Height());
    const TPixelFormat format = source.PixelFormat();
    if (format == TPixelFormat::pf1bit || format == TPixelFormat::pf4bit || format == TPixelFormat::pf8bit) {
        RecreateBitmap();
        bitmap_->Assign(&source);
    } else {
        // The reduction reads the picture at 24 bits; any other format is
        // converted on a copy, so the caller's bitmap stays as it was.
        TBitmap copy;
        const TBitmap* reduced = &source;
        if (format != TPixelFormat::pf24bit) {
            copy.Assign(&source);
            copy.SetPixelFormat(TPixelFormat::pf24bit);
            reduced = &copy;
        }
        bitmap_ = ReduceBitmapColors(const_cast<TBitmap&>(*reduced), owner_->ReductionMethod, owner_->DitherKind,
                                     owner_->ReductionBits, nullptr);
    }
    AllocatePixels();
    ReportConverting(TProgressStage::psStarting, 0, false);
    try {
        TPixelFormat read = bitmap_->PixelFormat();
        if (read != TPixelFormat::pf1bit && read != TPixelFormat::pf4bit && read != TPixelFormat::pf8bit)
            read = TPixelFormat::pf24bit;
        if (!bitmap_->Empty()) {
            TDIBReader reader(*bitmap_, read);
            ImportRows(reader, *bitmap_);
        }
        if (source.Transparent()) ApplyMaskHandle(source.MaskHandle());
    } catch (...) {
        ReportConverting(TProgressStage::psEnding, 0, owner_->PaletteModified);
        throw;
    }
    ReportConverting(TProgressStage::psEnding, 100, owner_->PaletteModified);
}

void TGIFSubImage::ImportRows(TDIBReader& reader, TBitmap& bitmap) {
    const int w = std::min(int(Width()), bitmap.Width()), h = std::min(int(Height()), bitmap.Height());
    const TPixelFormat format = bitmap.PixelFormat();
    if (format == TPixelFormat::pf8bit && bitmap.HandleType() == TBitmapHandleType::bmDIB)
        colorMap_->LoadDCColors(bitmap.Canvas().Handle());
    else if (format != TPixelFormat::pf24bit)
        colorMap_->LoadPalette(bitmap.Palette());
    // The 8 colours met last, with their indices: photographs and drawings
    // repeat their recent colours far more often than they bring new ones.
    uint32_t ringColor[8];
    int ringIndex[8];
    bool ringUsed[8] = {};
    int lastHit = 0;
    for (int y = 0; y < h; ++y) {
        if (y % 32 == 0) ReportConverting(TProgressStage::psRunning, static_cast<uint8_t>(num::MulDiv(y, 100, h)), false);
        const uint8_t* in = reader.RowAddress(y);
        uint8_t* out = RowPixels(y);
        switch (format) {
            case TPixelFormat::pf1bit:
                for (int x = 0; x < w; ++x) out[x] = (in[x >> 3] >> (7 - (x & 7))) & 1;
                break;
            case TPixelFormat::pf4bit:
                for (int x = 0; x < w; ++x) out[x] = (x & 1) ? (in[x >> 1] & 0x0F) : (in[x >> 1] >> 4);
                break;
            case TPixelFormat::pf8bit:
                std::memcpy(out, in, static_cast<size_t>(w));
                break;
            default:
                for (int x = 0; x < w; ++x, in += 3) {
                    const uint32_t value = uint32_t(in[0]) | (uint32_t(in[1]) << 8) | (uint32_t(in[2]) << 16);
                    int slot = lastHit, index = -1;
                    do {
                        if (!ringUsed[slot]) break;
                        if (ringColor[slot] == value) {
                            index = ringIndex[slot];
                            lastHit = slot;
                            break;
                        }
                        slot = (slot + 7) & 7;
                    } while (slot != lastHit);
                    if (index < 0) {
                        index = colorMap_->AppendUnique(RGB(in[2], in[1], in[0]));
                        lastHit = (lastHit + 1) & 7;
                        ringColor[lastHit] = value;
                        ringIndex[lastHit] = index;
                        ringUsed[lastHit] = true;
                    }
                    out[x] = static_cast<uint8_t>(index);
                }
                break;
        }
    }
}

void TGIFSubImage::AssignGraphic(const TGraphic& source) {
    Clear();
    if (source.Empty()) return;
    const auto* icon = dynamic_cast<const TIcon*>(&source);
    const auto* metafile = dynamic_cast<const TMetafile*>(&source);
    {
        TBitmap bitmap;
        if (icon != nullptr || metafile != nullptr) {
            try {
                DrawGraphicToBitmap(bitmap, source);
            } catch (const Exception&) {
                bitmap.Assign(&source);
            }
        } else {
            try {
                bitmap.Assign(&source);
            } catch (const Exception&) {
                DrawGraphicToBitmap(bitmap, source);
            }
        }
        AssignBitmap(bitmap);
    }
    if (icon != nullptr) ApplyIconMask(*icon);
    if (metafile != nullptr) ApplyMetafileMask(*metafile);
}

// ------------------------------------------------------------ transparency

void TGIFSubImage::ApplyTransparencyMask(const TBitmap& mask, int rows) {
    colorMap_->SortByUse();
    if (colorMap_->Count() == 0 || colorMap_->Count() == 256) return;
    const int index = colorMap_->Append(clBlack);
    // Masks need not have the frame's size: only where both reach is read.
    TBitmap bytes;
    bytes.Assign(&mask);
    TDIBReader reader(bytes, TPixelFormat::pf8bit);
    const int w = std::min<int>(Width(), bytes.Width());
    const int h = std::min({int(Height()), bytes.Height(), rows});
    bool any = false;
    for (int y = 0; y < h; ++y) {
        const uint8_t* m = reader.RowAddress(y);
        uint8_t* p = RowPixels(y);
        for (int x = 0; x < w; ++x) {
            if (m[x] == 0) continue;
            p[x] = static_cast<uint8_t>(index);
            any = true;
        }
    }
    if (!any) {
        colorMap_->Remove(index);
        return;
    }
    auto* control = new TGIFGraphicControlExtension(this);
    extensions_->Add(control);
    control->SetTransparentIndex(index);
    control->SetTransparent(true);
    DropBitmap();
    DropMask();
}

void TGIFSubImage::ApplyMaskHandle(const TBitmap* mask) {
    if (mask == nullptr) return;
    ApplyTransparencyMask(*mask, mask->Height());
}

void TGIFSubImage::ApplyIconMask(const TIcon& icon) {
    TIconInfo info;
    if (!GetIconInfo(icon, info)) return;
    // A monochrome icon's mask holds its AND mask over its image: only the
    // top half is the mask.
    const int rows = info.hbmColor == nullptr ? info.hbmMask->Height() / 2 : info.hbmMask->Height();
    ApplyTransparencyMask(*info.hbmMask, rows);
}

void TGIFSubImage::ApplyMetafileMask(const TMetafile& metafile) {
    TBitmap white, black;
    DrawOnBackground(white, metafile, clWhite);
    DrawOnBackground(black, metafile, clBlack);
    // Where the metafile drew, both hold the same colour and the XOR gives
    // black; where it drew nothing, white remains.
    TCanvas& canvas = white.Canvas();
    canvas.CopyMode = cmSrcInvert;
    canvas.Draw(0, 0, black);
    canvas.CopyMode = cmSrcCopy;
    ApplyTransparencyMask(white, white.Height());
}
