// The GIF picture: the platform graphic that owns a file's model, reads it,
// hands out its first frame as a bitmap and its palette, draws itself, and
// joins the picture registry as "GIF".
#include <algorithm>

#include "gif/GIFInternal.h"
#include "gif/GIFPainter.h"
#include "gif/GIFPicture.h"
#include "gif/GIFReduce.h"
#include "platform/core/Clipboard.h"

using namespace gifcodec;

namespace {
// A logical screen up to this size needs no backing: 64 MiB at 32 bits.
constexpr int64_t kFreeScreenPixels = int64_t(4096) * 4096;
}  // namespace

TGIFPaintFlags DefaultPaintFlags = gpThreaded | gpTransparent | gpAnimate | gpLoop | gpDither | gpAutoDither;
TPaletteReduction DefaultPaletteReduction = 6;
int32_t DefaultReductionBits = 8;
TDitherKind DefaultDitherKind = 0;
TGIFEncoding DefaultGIFEncoding = 0;
TThreadPriority DefaultPainterPriority = TThreadPriority::tpNormal;
int32_t DefaultAnimationSpeed = 100;
bool AutoDitherApplies = false;
bool RenderFramesOnLoad = false;
bool OptimizeOnFormStream = false;

QUILLARC_DEFINE_GRAPHIC(TGIFPicture, TGraphic)

TGIFPicture::TGIFPicture()
    : PaintFlags(DefaultPaintFlags),
      ReductionMethod(DefaultPaletteReduction),
      ReductionBits(DefaultReductionBits),
      DitherKind(DefaultDitherKind),
      Encoding(DefaultGIFEncoding),
      PainterPriority(DefaultPainterPriority),
      PlaybackSpeed(DefaultAnimationSpeed),
      frames_(std::make_unique<TGIFImageList>(this)),
      header_(std::make_unique<TGIFHeader>(this)) {
    Clear();
}

TGIFPicture::~TGIFPicture() {
    // Nobody is told about a picture that is going away.
    OnChange = nullptr;
    OnProgress = nullptr;
    OnGIFWarning = nullptr;
    StopAllPainters();
    {
        // What is still listed is stopped already but cannot be waited for
        // (it runs further up this thread's stack): it forgets the picture.
        TList& painters = Painters.LockList();
        for (int i = 0; i < painters.Count(); ++i) static_cast<TGIFPainter*>(painters.Items(i))->ForgetImage();
        painters.Clear();
        DrawPainter = nullptr;
        drawState_->alive = false;
        Painters.UnlockList();
    }
    Clear();
    frames_.reset();
    header_.reset();
    DeleteObject(globalPalette_);
}

void TGIFPicture::ReportWarning(TObject* sender, int severity, const std::string& message) {
    if (OnGIFWarning) OnGIFWarning(sender, severity, message);
}

void TGIFPicture::ChargeFramePixels(int64_t before, int64_t after) {
    const int64_t total = framePixels_ - before + after;
    if (after > before && total > kGIFMaxPicturePixels) RaiseGIFError("Invalid image dimensions");
    framePixels_ = total;
}

void TGIFPicture::ChargeLoadedFrame(int64_t pixels, int64_t backed) {
    // Only the last frame of a file can be cut short: the pixels no data
    // stands for come to one frame's largest size at the most over the whole
    // picture, however many frames claim them.
    const int64_t claimed = loadedPixels_ + pixels, paid = loadedBacked_ + backed;
    if (!ClaimBacked(claimed, paid) || claimed - paid > kGIFMaxFramePixels) RaiseGIFError("Premature end of data");
    loadedPixels_ += pixels;
    loadedBacked_ += backed;
}

// ------------------------------------------------------------ size and version

int32_t TGIFPicture::Width() const {
    if (header_->Width() == 0 && frames_->Count() > 0) {
        const TGIFSubImage* frame = frames_->Items(0);
        return frame->Left() + frame->Width();
    }
    return header_->Width();
}

int32_t TGIFPicture::Height() const {
    if (header_->Height() == 0 && frames_->Count() > 0) {
        const TGIFSubImage* frame = frames_->Items(0);
        return frame->Top() + frame->Height();
    }
    return header_->Height();
}

void TGIFPicture::SetWidth(int32_t value) {
    if (value < 0 || value > 0xFFFF) RaiseGIFError("Invalid image dimensions");
    for (int i = 0; i < frames_->Count(); ++i) {
        const TGIFSubImage* frame = frames_->Items(i);
        if (frame->Left() + frame->Width() > value) RaiseGIFError("Image width too small for contained frames");
    }
    if (value == header_->Width()) return;
    StopAllPainters();
    header_->SetWidth(static_cast<uint16_t>(value));
    DropBitmap();
    Changed(this);
}

void TGIFPicture::SetHeight(int32_t value) {
    if (value < 0 || value > 0xFFFF) RaiseGIFError("Invalid image dimensions");
    for (int i = 0; i < frames_->Count(); ++i) {
        const TGIFSubImage* frame = frames_->Items(i);
        if (frame->Top() + frame->Height() > value) RaiseGIFError("Image height too small for contained frames");
    }
    if (value == header_->Height()) return;
    StopAllPainters();
    header_->SetHeight(static_cast<uint16_t>(value));
    DropBitmap();
    Changed(this);
}

TGIFVersion TGIFPicture::RequiredVersion() const {
    TGIFVersion version = gvUnknown;
    for (int i = 0; i < frames_->Count() && version < gv89a; ++i)
        version = std::max(version, frames_->Items(i)->RequiredVersion());
    return version;
}

int TGIFPicture::ColorResolution() const {
    int value = header_->ColorResolution();
    for (int i = 0; i < frames_->Count(); ++i) value = std::max(value, frames_->Items(i)->ColorResolution());
    return value;
}

int TGIFPicture::BitsPerPixel() const {
    int value = header_->BitsPerPixel();
    for (int i = 0; i < frames_->Count(); ++i) value = std::max(value, frames_->Items(i)->BitsPerPixel());
    return value;
}

bool TGIFPicture::DitherActive() const {
    return (PaintFlags & gpDither) != 0 && ((PaintFlags & gpAutoDither) == 0 || AutoDitherApplies);
}

// ------------------------------------------------------------ streams

void TGIFPicture::LoadFromStream(TStream& stream) {
    Progress(this, TProgressStage::psStarting, 0, false, TRect{}, kLoading);
    try {
        Clear();
        const int64_t start = stream.Position();
        try {
            header_->LoadFromStream(stream);
            frames_->LoadFromStream(stream, this);
            // Frame 0 is shown on a bitmap of the logical screen. Small
            // frames on a screen of ordinary size are common and valid
            // (and what this program saves); a larger screen the frames'
            // data must vouch for as much as for the frames.
            const int64_t screen = int64_t(Width()) * Height();
            if (frames_->Count() > 0 && screen > kFreeScreenPixels && !ClaimBacked(screen, loadedBacked_))
                RaiseGIFError("Invalid image dimensions");
            TGIFTrailer(this).LoadFromStream(stream);
        } catch (...) {
            // The frames read so far stay; the stream goes back to where
            // the load started.
            stream.SetPosition(start);
            throw;
        }
    } catch (...) {
        Progress(this, TProgressStage::psEnding, 0, true, TRect{}, kLoading);
        throw;
    }
    Progress(this, TProgressStage::psEnding, 100, true, TRect{}, kLoading);
}

void TGIFPicture::SaveToStream(TStream& stream) {
    Progress(this, TProgressStage::psStarting, 0, false, TRect{}, kSaving);
    try {
        header_->SaveToStream(stream);
        frames_->SaveToStream(stream);
        TGIFTrailer(this).SaveToStream(stream);
    } catch (...) {
        Progress(this, TProgressStage::psEnding, 0, true, TRect{}, kSaving);
        throw;
    }
    Progress(this, TProgressStage::psEnding, 100, true, TRect{}, kSaving);
}

// ------------------------------------------------------------ bitmap and palette

namespace {

// A screen taken from frame 0's extent can reach past 65535 or the pixel
// limit.
void CheckScreenSize(int32_t width, int32_t height) {
    if (width > 0xFFFF || height > 0xFFFF || int64_t(width) * height > kGIFMaxFramePixels)
        RaiseGIFError("Invalid image dimensions");
}

}  // namespace

TBitmap* TGIFPicture::FirstFrameBitmap() {
    if (Empty()) return nullptr;
    if (cachedBitmap_ != nullptr) return cachedBitmap_.get();
    auto bitmap = std::make_unique<TBitmap>();
    RenderFirstFrame(*bitmap, true);
    bitmap->OnChange = [this](TObject*) { Changed(this); };
    cachedBitmap_ = std::move(bitmap);
    return cachedBitmap_.get();
}

void TGIFPicture::RenderFirstFrame(TBitmap& bitmap, bool keepFrameBitmap) {
    TGIFSubImage* frame = frames_->Items(0);
    const int32_t width = Width(), height = Height();
    CheckScreenSize(width, height);
    if (frame->Width() == width && frame->Height() == height) {
        if (keepFrameBitmap || frame->CachedBitmap() != nullptr || frame->IsEmpty())
            bitmap.Assign(frame->FrameBitmap());
        else
            frame->RenderTo(bitmap);
    } else {
        // A true-colour bitmap of the logical screen: the palette handed to
        // it is kept by it but not reported by its Palette(), so GetPalette
        // goes on to give the tables' palette.
        bitmap.SetPalette(CopyPalette(GetPalette()));
        bitmap.SetHeight(height);
        bitmap.SetWidth(width);
        frame->Paint(bitmap.Canvas(), Rect(0, 0, width, height), false, false);
    }
}

TBitmap& TGIFPicture::EnsureBitmap() {
    if (cachedBitmap_ == nullptr) {
        const int32_t width = Width(), height = Height();
        CheckScreenSize(width, height);
        auto bitmap = std::make_unique<TBitmap>();
        bitmap->SetPalette(CopyPalette(GetPalette()));
        bitmap->SetHeight(height);
        bitmap->SetWidth(width);
        bitmap->OnChange = [this](TObject*) { Changed(this); };
        cachedBitmap_ = std::move(bitmap);
    }
    return *cachedBitmap_;
}

void TGIFPicture::DropBitmap() {
    if (DrawPainter != nullptr) DrawPainter->RequestStop();
    cachedBitmap_.reset();
}

void TGIFPicture::Clear() {
    StopAllPainters();
    DropBitmap();
    frames_->Clear();
    loadedPixels_ = loadedBacked_ = 0;
    header_->ColorMap().RemoveAll();
    header_->SetWidth(0);
    header_->SetHeight(0);
    header_->BuildPackedByte();
    SetPalette(nullptr);
}

HPALETTE TGIFPicture::GetPalette() {
    if (cachedBitmap_ != nullptr)
        if (HPALETTE p = cachedBitmap_->Palette()) return p;
    return TablePalette();
}

HPALETTE TGIFPicture::TablePalette() {
    // Frame 0 without a table of its own asks the picture again: then there
    // is no table at all.
    if (paletteGuard_) RaiseGIFError("No global or local color table defined");
    paletteGuard_ = true;
    struct Release {
        bool& guard;
        ~Release() { guard = false; }
    } release{paletteGuard_};
    if (globalPalette_ != nullptr) return globalPalette_;
    if (DitherActive()) {
        globalPalette_ = Create216ColorPalette();
        return globalPalette_;
    }
    if (header_->ColorMap().Count() > 0) {
        globalPalette_ = header_->ColorMap().MakePalette();
        return globalPalette_;
    }
    if (frames_->Count() > 0) return frames_->Items(0)->GetPalette();
    return nullptr;
}

void TGIFPicture::SetPalette(HPALETTE palette) {
    if (palette == globalPalette_) return;
    DeleteObject(globalPalette_);
    const bool drop = cachedBitmap_ != nullptr && cachedBitmap_->Palette() != palette;
    globalPalette_ = palette;
    if (drop) {
        DropBitmap();
        PaletteModified = true;
        Changed(this);
    }
}

void TGIFPicture::AssignTo(TPersistent* dest) const {
    if (auto* bitmap = dynamic_cast<TBitmap*>(dest)) {
        auto* self = const_cast<TGIFPicture*>(this);
        if (Empty() || cachedBitmap_ != nullptr) {
            bitmap->Assign(self->FirstFrameBitmap());
            return;
        }
        // Nothing kept to copy from: frame 0 goes straight into the
        // caller's bitmap, and the picture keeps no copy of it.
        TBitmap first;
        self->RenderFirstFrame(first, false);
        bitmap->TakeOver(first);
        return;
    }
    TGraphic::AssignTo(dest);
}

// ------------------------------------------------------------ registration

void RegisterGIFGraphic() {
    TPicture::RegisterFileFormat("GIF", "GIF Image", TGIFPicture::StaticClass());
    GIFClipboardFormat = RegisterClipboardFormat("GIF Image");
    TPicture::RegisterClipboardFormat(GIFClipboardFormat, TGIFPicture::StaticClass());
    // The screen's depth decides whether dithering applies.
    AutoDitherApplies = kScreenBitsPerPixel <= 8;
}

void UnregisterGIFGraphic() {
    FreeExtensionRegistries();
    TPicture::UnregisterGraphicClass(TGIFPicture::StaticClass());
}
