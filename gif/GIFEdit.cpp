// Editing a GIF's model: colour tables sorted by use, frames trimmed and
// merged with the frame below, pictures copied, frames added, the
// optimiser, and the clipboard.
#include <algorithm>
#include <cstring>
#include <utility>

#include "gif/GIFInternal.h"
#include "gif/GIFPicture.h"
#include "platform/core/Clipboard.h"
#include "platform/core/Numeric.h"

using namespace gifcodec;

uint32_t GIFClipboardFormat = 0;

namespace {

constexpr const char* kCopying = "Copying...";
constexpr const char* kOptimizing = "Optimizing...";

// Sorts entries lo..hi by use, most used first; entries of equal use end
// where this partition leaves them.
void SortHistogram(TGIFColorMap::THistogram& h, int lo, int hi) {
    for (;;) {
        int i = lo, j = hi;
        const int64_t pivot = h[static_cast<size_t>((lo + hi) >> 1)].count;
        do {
            while (h[static_cast<size_t>(i)].count > pivot) ++i;
            while (h[static_cast<size_t>(j)].count < pivot) --j;
            if (i <= j) {
                std::swap(h[static_cast<size_t>(i)], h[static_cast<size_t>(j)]);
                ++i;
                --j;
            }
        } while (i <= j);
        if (lo < j) SortHistogram(h, lo, j);
        if (i >= hi) return;
        lo = i;
    }
}

// A transparent index counts as used even where no pixel shows it: the
// table keeps its colour.
void CountAsUsed(TGIFColorMap::THistogram& h, int index) {
    auto& e = h[static_cast<size_t>(index)];
    if (e.count == 0) e.count = 1;
}

void CountFrame(TGIFSubImage& frame, TGIFColorMap::THistogram& h) {
    if (!frame.IsEmpty()) {
        const uint8_t* p = std::as_const(frame).Data();
        for (int64_t i = 0, n = frame.DataSize(); i < n; ++i) ++h[p[i]].count;
    }
    if (frame.Transparent() && frame.GraphicControlExtension() != nullptr)
        CountAsUsed(h, frame.GraphicControlExtension()->TransparentIndex());
}

void RemapFrame(TGIFSubImage& frame, const TGIFColorMap::TIndexMap& map) {
    if (!frame.IsEmpty()) {
        uint8_t* p = frame.Data();
        for (int64_t i = 0, n = frame.DataSize(); i < n; ++i) p[i] = map[p[i]];
    }
    TGIFGraphicControlExtension* control = frame.GraphicControlExtension();
    if (frame.Transparent() && control != nullptr) {
        const uint8_t t = control->TransparentIndex();
        if (map[t] != t) control->SetTransparentIndex(map[t]);
    }
    frame.DropBitmap();
    frame.DropMask();
}

int DisposalOf(const TGIFSubImage& frame) {
    const TGIFGraphicControlExtension* control = frame.GraphicControlExtension();
    return control != nullptr ? control->Disposal() : 0;
}

}  // namespace

// ------------------------------------------------------------ colour tables

bool TGIFColorMap::SortByUse() {
    if (count_ <= 1) return false;
    sorted_ = true;
    THistogram histogram;
    for (int i = 0; i < 256; ++i) histogram[static_cast<size_t>(i)] = THistogramEntry{0, i};
    CountUse(histogram);
    SortHistogram(histogram, 0, count_ - 1);
    bool unchanged = true;
    for (int i = 0; i < count_; ++i) unchanged &= histogram[static_cast<size_t>(i)].index == i;
    if (unchanged) return true;
    // Indices at or above the count are left as they are.
    TIndexMap map;
    for (int i = 0; i < 256; ++i) map[static_cast<size_t>(i)] = static_cast<uint8_t>(i);
    for (int i = 0; i < count_; ++i)
        map[static_cast<size_t>(histogram[static_cast<size_t>(i)].index)] = static_cast<uint8_t>(i);
    RemapPixels(map);
    std::vector<uint8_t> old(buffer_.get(), buffer_.get() + 3 * count_);
    for (int k = 0; k < count_; ++k) std::memcpy(buffer_.get() + 3 * map[static_cast<size_t>(k)], &old[3 * size_t(k)], 3);
    for (int i = 0; i < count_; ++i)
        if (histogram[static_cast<size_t>(i)].count == 0) {
            count_ = i;
            break;
        }
    ColorsChanged();
    return true;
}

void TGIFGlobalColorMap::CountUse(THistogram& histogram) {
    TGIFPicture* picture = header_->Image();
    for (int i = 0; i < picture->Images().Count(); ++i) {
        TGIFSubImage* frame = picture->Images()[i];
        if (&frame->EffectiveColorMap() == this) CountFrame(*frame, histogram);
    }
    // The screen's background colour stays as well.
    CountAsUsed(histogram, header_->BackgroundIndex());
}

void TGIFGlobalColorMap::RemapPixels(const TIndexMap& map) {
    TGIFPicture* picture = header_->Image();
    for (int i = 0; i < picture->Images().Count(); ++i) {
        TGIFSubImage* frame = picture->Images()[i];
        if (&frame->EffectiveColorMap() == this) RemapFrame(*frame, map);
    }
    header_->SetBackgroundIndex(map[header_->BackgroundIndex()]);
}

bool TGIFGlobalColorMap::SortByUse() {
    if (header_->Image()->Images().Count() == 0) return false;
    return TGIFColorMap::SortByUse();
}

void TGIFLocalColorMap::CountUse(THistogram& histogram) { CountFrame(*frame_, histogram); }

void TGIFLocalColorMap::RemapPixels(const TIndexMap& map) { RemapFrame(*frame_, map); }

// ------------------------------------------------------------ trimming and merging

void TGIFSubImage::TrimTransparentEdges() {
    if (IsEmpty() || !transparent_ || graphicControl_ == nullptr) return;
    const uint8_t t = graphicControl_->TransparentIndex();
    const int w = Width(), h = Height();
    const uint8_t* pixels = std::as_const(pixels_).data();
    auto columnShows = [&](int x, int y0, int y1) {
        for (int y = y0; y <= y1; ++y)
            if (pixels[int64_t(y) * w + x] != t) return true;
        return false;
    };
    int left = 0, right = w - 1;
    while (left < w && !columnShows(left, 0, h - 1)) ++left;
    if (left == w) {
        Clear();
        return;
    }
    while (!columnShows(right, 0, h - 1)) --right;
    auto rowShows = [&](int y) {
        const uint8_t* row = pixels + int64_t(y) * w;
        for (int x = left; x <= right; ++x)
            if (row[x] != t) return true;
        return false;
    };
    int top = 0, bottom = h - 1;
    while (!rowShows(top)) ++top;
    while (!rowShows(bottom)) --bottom;
    const int nw = right - left + 1, nh = bottom - top + 1;
    if (nw == w && nh == h) return;
    const int64_t size = int64_t(nw) * nh;
    TPixelBuffer block = TPixelBuffer::Allocate(static_cast<size_t>(size), false);
    for (int y = 0; y < nh; ++y)
        std::memcpy(block.data() + int64_t(y) * nw, pixels + int64_t(top + y) * w + left, static_cast<size_t>(nw));
    owner_->ChargeFramePixels(pixelSize_, size);
    pixels_ = std::move(block);
    pixelSize_ = size;
    SetWord(1, Left() + left);
    SetWord(3, Top() + top);
    SetWord(5, nw);
    SetWord(7, nh);
    DropBitmap();
    DropMask();
}

bool TGIFSubImage::CanAddTransparentColor() {
    if (colorMap_->Count() > 0) return colorMap_->Count() < 256;
    const int global = owner_->GlobalColorMap().Count();
    return global > 0 && global < 256;
}

int TGIFSubImage::ChooseTransparentIndex() {
    if (colorMap_->Count() > 0) return colorMap_->Append(clBlack);
    // Another frame's transparent colour in the global table serves, unless
    // this frame shows that index itself.
    TGIFImageList& frames = owner_->Images();
    for (int i = 0; i < frames.Count(); ++i) {
        TGIFSubImage* other = frames[i];
        if (other == this || !other->Transparent() || other->GraphicControlExtension() == nullptr ||
            other->ColorMap().Count() > 0)
            continue;
        const uint8_t index = other->GraphicControlExtension()->TransparentIndex();
        if (std::memchr(std::as_const(pixels_).data(), index, static_cast<size_t>(pixelSize_)) == nullptr) return index;
        break;
    }
    return owner_->GlobalColorMap().Append(clBlack);
}

void TGIFSubImage::MergeWithPrevious(TGIFSubImage* previous) {
    if (IsEmpty() || previous == nullptr || previous->IsEmpty()) return;
    const int disposal = DisposalOf(*previous);
    if (disposal == 2 || disposal == 3) return;
    TRect both;
    if (!IntersectRect(both, FrameRect(), previous->FrameRect())) return;
    int t = -1;
    if (transparent_ && graphicControl_ != nullptr)
        t = graphicControl_->TransparentIndex();
    else if (!CanAddTransparentColor())
        return;
    const bool chosenHere = t < 0;
    const int p = previous->Transparent() && previous->GraphicControlExtension() != nullptr
                      ? previous->GraphicControlExtension()->TransparentIndex()
                      : -1;
    TGIFColorMap& mine = EffectiveColorMap();
    TGIFColorMap& theirs = previous->EffectiveColorMap();
    const bool sameMap = &mine == &theirs;
    const int n = both.Width();
    for (int y = both.Top; y < both.Bottom; ++y) {
        uint8_t* row = pixels_.data() + int64_t(y - Top()) * Width() + (both.Left - Left());
        const uint8_t* below = std::as_const(previous->pixels_).data() +
                               int64_t(y - previous->Top()) * previous->Width() + (both.Left - previous->Left());
        for (int x = 0; x < n; ++x) {
            const int a = row[x], b = below[x];
            if (a == t || b == p) continue;
            if ((sameMap && a == b) || mine.ColorOrFirst(a) == theirs.ColorOrFirst(b)) {
                if (t < 0) t = ChooseTransparentIndex();
                row[x] = static_cast<uint8_t>(t);
            }
        }
    }
    if (chosenHere && t >= 0) {
        TGIFGraphicControlExtension* control = graphicControl_;
        if (control == nullptr) {
            control = new TGIFGraphicControlExtension(this);
            extensions_->Add(control);
        }
        control->SetTransparentIndex(t);
        control->SetTransparent(true);
    }
    DropBitmap();
    DropMask();
}

// ------------------------------------------------------------ the picture

void TGIFPicture::Assign(const TPersistent* source) {
    if (source == this) return;
    if (source == nullptr) {
        Clear();
        return;
    }
    if (const auto* gif = dynamic_cast<const TGIFPicture*>(source)) {
        auto& src = const_cast<TGIFPicture&>(*gif);
        Clear();
        // The source's handlers serve the copy while it runs; the copy ends
        // without any, also when it fails.
        OnProgress = src.OnProgress;
        OnGIFWarning = src.OnGIFWarning;
        struct Forget {
            TGIFPicture& p;
            ~Forget() {
                p.OnProgress = nullptr;
                p.OnGIFWarning = nullptr;
            }
        } forget{*this};
        Progress(this, TProgressStage::psStarting, 0, false, TRect{}, kCopying);
        try {
            header_->Assign(src.header_.get());
            PainterPriority = src.PainterPriority;
            BackdropColor = src.BackdropColor;
            PaintFlags = src.PaintFlags;
            ReductionMethod = src.ReductionMethod;
            DitherKind = src.DitherKind;
            OnGIFWarning = src.OnGIFWarning;
            OnPaintStart = src.OnPaintStart;
            OnPaintFrame = src.OnPaintFrame;
            OnFramePainted = src.OnFramePainted;
            OnPaintLoop = src.OnPaintLoop;
            OnPaintEnd = src.OnPaintEnd;
            const int count = src.frames_->Count();
            for (int i = 0; i < count; ++i) {
                auto frame = std::make_unique<TGIFSubImage>(this);
                frame->Assign(src.frames_->Items(i));
                Add(frame.release());
                Progress(this, TProgressStage::psRunning, Percent(i + 1, count), false, TRect{}, kCopying);
            }
        } catch (...) {
            Progress(this, TProgressStage::psEnding, 0, false, TRect{}, kCopying);
            throw;
        }
        Progress(this, TProgressStage::psEnding, 100, false, TRect{}, kCopying);
        return;
    }
    Clear();
    auto frame = std::make_unique<TGIFSubImage>(this);
    try {
        frame->Assign(source);
    } catch (const EConvertError&) {
        frame.reset();
        TGraphic::Assign(source);
        return;
    }
    Add(frame.release());
}

int TGIFPicture::Add(TPersistent* source) {
    StopAllPainters();
    int index;
    if (auto* frame = dynamic_cast<TGIFSubImage*>(source)) {
        index = frames_->Add(frame);
    } else if (dynamic_cast<TGraphic*>(source) != nullptr) {
        auto frame = std::make_unique<TGIFSubImage>(this);
        frame->Assign(source);
        index = frames_->Add(frame.release());
    } else {
        RaiseGIFError("Object type not supported for operation");
    }
    DropBitmap();
    Changed(this);
    return index;
}

void TGIFPicture::WriteData(TStream& stream) {
    if (OptimizeOnFormStream) Streamline(goCrop | goMerge | goCleanup | goColorMap | goReduceColors, 0, 8, 0);
    TGraphic::WriteData(stream);
}

namespace {

// Streamline's passes report each frame they change, counting the frames
// every pass has visited against six visits per frame.
struct TPassProgress {
    TGIFPicture& picture;
    int64_t total;
    int64_t visited = 0;
    void FrameChanged() {
        picture.Progress(&picture, TProgressStage::psRunning, Percent(visited, total), false, TRect{}, kOptimizing);
    }
};

void SortTablesByUse(TGIFPicture& picture, TPassProgress& progress) {
    if (picture.GlobalColorMap().Count() > 0 && picture.GlobalColorMap().SortByUse()) progress.FrameChanged();
    TGIFImageList& frames = picture.Images();
    for (int i = 0; i < frames.Count(); ++i, ++progress.visited) {
        TGIFSubImage* frame = frames[i];
        if (frame->ColorMap().Count() > 0 && frame->ColorMap().SortByUse()) progress.FrameChanged();
    }
}

// A transparent index no pixel shows is dropped.
void ClearUnusedTransparency(TGIFImageList& frames, TPassProgress& progress) {
    for (int i = 0; i < frames.Count(); ++i, ++progress.visited) {
        TGIFSubImage* frame = frames[i];
        TGIFGraphicControlExtension* control = frame->GraphicControlExtension();
        if (!frame->Transparent() || control == nullptr) continue;
        const uint8_t* data = std::as_const(*frame).Data();
        if (!frame->IsEmpty() &&
            std::memchr(data, control->TransparentIndex(), static_cast<size_t>(frame->DataSize())) != nullptr)
            continue;
        control->SetTransparent(false);
        progress.FrameChanged();
    }
}

// Restoring a frame's area is needless when the next frame, opaque, covers
// all of it - unless that frame restores in its turn what stood before it,
// which then includes the area as it was restored.
void LeaveCoveredFramesInPlace(TGIFImageList& frames, TPassProgress& progress) {
    for (int i = 0; i + 1 < frames.Count(); ++i, ++progress.visited) {
        TGIFSubImage *frame = frames[i], *next = frames[i + 1];
        const int disposal = DisposalOf(*frame);
        if ((disposal != 2 && disposal != 3) || next->Transparent() || next->IsEmpty() || DisposalOf(*next) == 3)
            continue;
        TRect both;
        if (!IntersectRect(both, frame->FrameRect(), next->FrameRect()) || both != frame->FrameRect()) continue;
        frame->GraphicControlExtension()->SetDisposal(0);
        progress.FrameChanged();
    }
}

// Each frame against the one it is drawn over: the previous one, or further
// back past frames that restore what stood before them.
void MergeWithFramesBelow(TGIFImageList& frames, TPassProgress& progress) {
    for (int i = frames.Count() - 1; i >= 1; --i, ++progress.visited) {
        int below = i - 1;
        while (below > 0 && DisposalOf(*frames[below]) == 3) --below;
        frames[i]->MergeWithPrevious(frames[below]);
        progress.FrameChanged();
    }
}

// The time a dropped frame was shown goes to the frame before it.
void AddDelay(TGIFSubImage& frame, int delay) {
    if (delay == 0) return;
    TGIFGraphicControlExtension* control = frame.GraphicControlExtension();
    if (control == nullptr) {
        control = new TGIFGraphicControlExtension(&frame);
        frame.Extensions().Add(control);
    }
    control->SetDelay(static_cast<uint16_t>(std::min(int(control->Delay()) + delay, 0xFFFF)));
}

// The application blocks of a dropped frame (the loop count among them)
// still apply: they go to the front of the next frame, or to a frame of
// their own after the last one.
void HandOnApplicationExtensions(TGIFPicture& picture, int index) {
    TGIFImageList& frames = picture.Images();
    TGIFExtensionList& extensions = frames[index]->Extensions();
    TGIFSubImage* next = nullptr;
    for (int e = 0, moved = 0; e < extensions.Count();) {
        if (dynamic_cast<TGIFApplicationExtension*>(extensions[e]) == nullptr) {
            ++e;
            continue;
        }
        if (next == nullptr) {
            if (index + 1 == frames.Count()) frames.Add(new TGIFSubImage(&picture));
            next = frames[index + 1];
        }
        extensions[e]->MoveToFrame(*next, moved++);
    }
}

// A frame 0 that shows nothing is shrunk to one transparent pixel at its
// corner, when that corner lies on the screen.
void KeepOneTransparentPixel(TGIFPicture& picture, TGIFSubImage& frame, uint8_t t) {
    const TGIFHeader& header = picture.Header();
    if (frame.Left() >= header.Width() || frame.Top() >= header.Height()) return;
    frame.PlaceFrame(frame.Left(), frame.Top(), 1, 1);
    frame.Data()[0] = t;
}

// Transparent frames cropped to what they show; frames that show nothing
// dropped.
void CropTransparentFrames(TGIFPicture& picture, TPassProgress& progress) {
    TGIFImageList& frames = picture.Images();
    // A screen of width or height 0 takes frame 0's extent.
    const bool screenOfFrame0 = picture.Header().Width() == 0 || picture.Header().Height() == 0;
    for (int i = frames.Count() - 1; i >= 0; --i, ++progress.visited) {
        TGIFSubImage* frame = frames[i];
        // A frame whose transparent colour came from a control block that
        // was later removed has no index left to crop by. A frame restored
        // to the background clears its whole area afterwards: its size is
        // part of what it shows.
        const TGIFGraphicControlExtension* control = frame->GraphicControlExtension();
        if (frame->IsEmpty() || !frame->Transparent() || control == nullptr || DisposalOf(*frame) == 2 ||
            (i == 0 && screenOfFrame0))
            continue;
        const uint8_t t = control->TransparentIndex();
        const uint8_t* data = std::as_const(*frame).Data();
        const bool showsNothing = std::all_of(data, data + frame->DataSize(), [t](uint8_t v) { return v == t; });
        if (!showsNothing) {
            frame->TrimTransparentEdges();
            progress.FrameChanged();
            continue;
        }
        // A frame that shows nothing still shows, for its delay, what the
        // frame before it restored: it stays after such a frame. Frame 0
        // shows the empty screen for its delay (and what the frames after it
        // that show nothing gave it), and is all an empty picture has: it
        // stays too.
        if (i == 0) {
            KeepOneTransparentPixel(picture, *frame, t);
            progress.FrameChanged();
            continue;
        }
        const int below = DisposalOf(*frames[i - 1]);
        if (below == 2 || below == 3) continue;
        AddDelay(*frames[i - 1], control->Delay());
        HandOnApplicationExtensions(picture, i);
        frames.Delete(i);
        progress.FrameChanged();
    }
}

// Comments, plain text, unknown application blocks and the loop counts of a
// still picture go; so do control blocks that say nothing a viewer would not
// assume, and frames left with nothing, unless it is the only frame. An
// animation's loop blocks stay where they stand: viewers honour one before
// any frame, and some take the first, others the last.
void DropNeedlessExtensions(TGIFImageList& frames, TPassProgress& progress) {
    int images = 0;
    for (int i = 0; i < frames.Count(); ++i) images += !frames[i]->IsEmpty();
    const bool several = images > 1;
    for (int i = frames.Count() - 1; i >= 0; --i, ++progress.visited) {
        TGIFSubImage* frame = frames[i];
        TGIFExtensionList& extensions = frame->Extensions();
        for (int e = extensions.Count() - 1; e >= 0; --e) {
            const TGIFExtensionClass& cls = extensions[e]->ClassType();
            const bool loop = &cls == &TGIFAppExtNSLoop::StaticClass();
            if (&cls == &TGIFCommentExtension::StaticClass() || &cls == &TGIFTextExtension::StaticClass() ||
                &cls == &TGIFUnknownAppExtension::StaticClass() || (loop && !several))
                extensions.Delete(e);
        }
        TGIFGraphicControlExtension* control = frame->GraphicControlExtension();
        if (control != nullptr && (control->Delay() == 0 || !several) && !control->Transparent() &&
            !control->UserInput() && (control->Disposal() < 2 || !several))
            delete control;
        if (frame->IsEmpty() && extensions.Count() == 0 && frames.Count() > 1) frames.Delete(i);
        progress.FrameChanged();
    }
}

}  // namespace

void TGIFPicture::Streamline(uint8_t options, TPaletteReduction method, int, TDitherKind) {
    if (Empty()) return;
    // Refused before anything changes.
    if ((options & goReduceColors) && !(options & goCleanup) && method == 9) RaiseGIFError("Invalid reduction method");
    StopAllPainters();
    Painters.LockList();
    struct Unlock {
        TThreadList& list;
        ~Unlock() { list.UnlockList(); }
    } unlock{Painters};
    Progress(this, TProgressStage::psStarting, 0, false, TRect{}, kOptimizing);
    TPassProgress progress{*this, int64_t(frames_->Count()) * 6};
    try {
        if (options & goColorMap) SortTablesByUse(*this, progress);
        if (options & goCleanup) {
            ClearUnusedTransparency(*frames_, progress);
            LeaveCoveredFramesInPlace(*frames_, progress);
        }
        if (options & goMerge) MergeWithFramesBelow(*frames_, progress);
        if (options & goCrop) CropTransparentFrames(*this, progress);
        if (options & goCleanup) DropNeedlessExtensions(*frames_, progress);
    } catch (...) {
        Progress(this, TProgressStage::psEnding, 0, false, TRect{}, kOptimizing);
        throw;
    }
    DropBitmap();
    Progress(this, TProgressStage::psEnding, 100, false, TRect{}, kOptimizing);
}

// ------------------------------------------------------------ clipboard

void TGIFPicture::LoadFromClipboardFormat(uint32_t format, THandle data, HPALETTE palette) {
    if (data == nullptr) data = Clipboard().GetClipboardData(format);
    if (format == GIFClipboardFormat && GIFClipboardFormat != 0 && data != nullptr) {
        auto* memory = static_cast<HGLOBAL>(data);
        TMemoryStream stream;
        stream.WriteBuffer(GlobalLock(memory), static_cast<int64_t>(GlobalSize(memory)));
        GlobalUnlock(memory);
        stream.SetPosition(0);
        LoadFromStream(stream);
        return;
    }
    if (format == CF_BITMAP && data != nullptr) {
        TBitmap bitmap;
        bitmap.LoadFromClipboardFormat(format, data, palette);
        Assign(&bitmap);
        return;
    }
    RaiseGIFError("Unsupported clipboard format");
}

void TGIFPicture::SaveToClipboardFormat(uint32_t& format, THandle& data, HPALETTE& palette) {
    if (Empty()) return;
    FirstFrameBitmap()->SaveToClipboardFormat(format, data, palette);
    HGLOBAL memory = nullptr;
    try {
        TMemoryStream stream;
        SaveToStream(stream);
        memory = GlobalAlloc(GMEM_MOVEABLE, static_cast<size_t>(stream.Size()));
        if (memory == nullptr) throw EOutOfMemory("Out of memory");
        std::memcpy(GlobalLock(memory), stream.Memory(), static_cast<size_t>(stream.Size()));
        GlobalUnlock(memory);
        if (Clipboard().SetClipboardData(GIFClipboardFormat, memory) == nullptr)
            RaiseGIFError("Failed to store GIF on clipboard");
    } catch (...) {
        GlobalFree(memory);
        // The bitmap form goes too: nobody else holds it.
        delete static_cast<TBitmap*>(data);
        DeleteObject(palette);
        data = nullptr;
        palette = nullptr;
        throw;
    }
}
