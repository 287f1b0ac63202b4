// Animated GIF pictures: the painters that play them, and the picture's
// drawing, which starts, keeps and stops them.
#include "gif/GIFPainter.h"

#include <cstdint>
#include <utility>

#include "platform/core/Numeric.h"

int32_t FrameDelayUnitMs = 12;
int32_t FallbackFrameDelay = 10;
int32_t ShortestFrameDelay = 3;
int32_t LongestSyncFrameDelay = 1000;

namespace {

// Disposal values 4 to 7 mean nothing defined: such a frame is left in
// place, as with 1. The file keeps the value as read.
uint8_t EffectiveDisposal(uint8_t disposal) { return disposal > 3 ? 1 : disposal; }

// The wait of a threaded painter that waits until it is stopped.
constexpr int32_t kWaitForever = -1;

// Tiles of size (width, height), the first at (left, top), spaced by
// (stepX, stepY), while they start inside (right, bottom).
template <class Each>
void ForEachTile(int32_t left, int32_t top, int32_t width, int32_t height, int32_t stepX, int32_t stepY,
                 int32_t right, int32_t bottom, Each each) {
    if (width <= 0 || height <= 0) return;
    for (int64_t y = top; y < bottom; y += stepY) {
        for (int64_t x = left; x < right; x += stepX) {
            each(Bounds(static_cast<int32_t>(x), static_cast<int32_t>(y), width, height));
            if (stepX <= 0) break;
        }
        if (stepY <= 0) break;
    }
}

struct UnlockOnExit {
    TThreadList& list;
    ~UnlockOnExit() { list.UnlockList(); }
};

}  // namespace

int32_t FrameWaitMs(int32_t units, int32_t speed, uint32_t now, uint32_t lastTime, int32_t lastWait) {
    const int32_t overrun = static_cast<int32_t>(now - lastTime - static_cast<uint32_t>(lastWait));
    const int64_t ms = int64_t(units) * FrameDelayUnitMs - overrun / 2;
    if (ms < INT32_MIN || ms > INT32_MAX) return -1;
    return num::MulDiv(static_cast<int32_t>(ms), 100, speed);
}

// ------------------------------------------------------------ creation

TGIFPainter::TGIFPainter(TGIFPicture* image, TGIFPaintFlags flags, const TRect& rect, TCanvas* canvas,
                         TGIFPainter** slot)
    : TThread(true), PaintFlags(flags), PlaybackSpeed(image->PlaybackSpeed), image_(image), canvas_(canvas), rect_(rect) {
    FreeOnTerminate = true;
    OnTerminate = [this](TObject*) { Detach(); };
    const TGIFImageList& frames = image->Images();
    if (Threaded() && (PaintFlags & gpAnimate) != 0 && frames.Count() > 1 && PlaybackSpeed >= 0)
        wakeEvent_ = std::make_unique<TEvent>(false, false);

    if (image->BackdropColor != clNone)
        background_ = ColorToRGB(image->BackdropColor);
    else if (image->GlobalColorMap().Count() > 0)
        background_ = image->HeaderBackgroundColor();
    else
        background_ = ColorToRGB(clWindow);

    // The disposal methods in use decide which buffers the run needs.
    bool restoresBackground = (PaintFlags & gpClearOnLoop) != 0, restoresPrevious = false;
    for (int i = 0; i < frames.Count(); ++i) {
        if (const TGIFGraphicControlExtension* gce = frames[i]->GraphicControlExtension()) {
            restoresBackground |= gce->Disposal() == 2;
            restoresPrevious |= gce->Disposal() == 3;
        }
    }
    const int32_t w = rect.Width(), h = rect.Height();
    const TRect area = Rect(0, 0, w, h);
    auto makeBuffer = [&] {
        auto bitmap = std::make_unique<TBitmap>();
        bitmap->SetPixelFormat(TPixelFormat::pf32bit);
        bitmap->SetHeight(h);
        bitmap->SetWidth(w);
        bitmap->Canvas().CopyMode = cmSrcCopy;
        bitmap->Canvas().Brush.Color = background_;
        return bitmap;
    };
    if (restoresBackground && (PaintFlags & gpTransparent) != 0) {
        underlay_ = makeBuffer();
        underlay_->Canvas().CopyRect(area, *canvas, rect);
    }
    if (restoresBackground || restoresPrevious) {
        compose_ = makeBuffer();
        compose_->Canvas().CopyRect(area, *canvas, rect);
        scratch_ = makeBuffer();
    }
    if (slot != nullptr) {
        slot_ = slot;
        *slot = this;
    }
}

TGIFPainter::~TGIFPainter() = default;

// ------------------------------------------------------------ control

void TGIFPainter::Start() {
    if (Threaded()) Resume();
}

void TGIFPainter::RequestStop() {
    Terminate();
    if (!Threaded()) return;
    if (wakeEvent_) wakeEvent_->SetEvent();
    Priority = TThreadPriority::tpNormal;
    // A painter that never ran still has to run to its end to detach.
    if (Suspended()) Resume();
}

void TGIFPainter::RunStep(const std::function<void()>& step) {
    if (Terminated()) return;
    if (!Threaded()) {
        step();
        return;
    }
    Synchronize([this, &step] {
        // Stopped while the step waited in the queue: the target may be gone.
        if (Terminated() || Image() == nullptr) return;
        ++inStep_;
        struct Leave {
            std::atomic<int>& depth;
            ~Leave() { --depth; }
        } leave{inStep_};
        step();
    });
}

void TGIFPainter::FireEvent(const TNotifyEvent& handler) {
    if (handler) RunStep([this, &handler] { handler(this); });
}

TGIFSubImage* TGIFPainter::FrameAt(int32_t index) const {
    TGIFPicture* image = Image();
    if (image == nullptr || index < 0 || index >= image->Images().Count()) return nullptr;
    return image->Images()[index];
}

// ------------------------------------------------------------ the run

void TGIFPainter::Execute() {
    try {
        Play();
    } catch (...) {
        Terminate();
        PendingException = std::current_exception();
    }
}

void TGIFPainter::Play() {
    const bool animate = (PaintFlags & gpAnimate) != 0;
    const bool loopForever = (PaintFlags & gpLoopForever) != 0;
    if ((PaintFlags & gpValidateCanvas) != 0) {
        validationDC_ = canvas_;
        validationSerial_ = LiveCanvasSerial(canvas_);
    }
    RestartRequested = true;
    while (RestartRequested && !Terminated()) {
        ActiveFrame = 0;
        FireEvent(OnPaintStart);
        firstFramePainted_ = false;
        RestartRequested = false;
        int32_t loopCount = 1, loopStart = 0;
        bool loopSeen = false;
        int32_t wait = Threaded() ? 0 : 1;  // delay units until the wait step
        PreviousDisposal = 1;
        uint32_t lastTime = timeGetTime();
        int32_t lastWait = 0;

        // The first loop extension of the run sets the number of passes.
        auto noteLoop = [&](TGIFSubImage& frame) {
            TGIFExtensionList& extensions = frame.Extensions();
            for (int i = 0; i < extensions.Count() && !loopSeen; ++i) {
                if (auto* loop = dynamic_cast<TGIFAppExtNSLoop*>(extensions[i])) {
                    loopSeen = true;
                    loopCount = loop->LoopCount;
                    if ((loopCount == 0 || loopForever) && Threaded()) loopCount = -1;
                    loopStart = ActiveFrame;
                }
            }
        };

        while ((loopCount != 0 || loopForever) && !Terminated() && !RestartRequested) {
            ActiveFrame = loopStart;
            if (FirstFramePainted()) FireEvent(OnPaintLoop);
            bool shownAny = false;
            while (!Terminated() && !RestartRequested) {
                TGIFSubImage* frame = FrameAt(ActiveFrame);
                if (frame == nullptr) break;
                // A frame without pixels (a stray zero byte between its
                // extensions and its image leaves one) is passed over; its
                // loop extension still counts.
                if (frame->IsEmpty()) {
                    noteLoop(*frame);
                    ++ActiveFrame;
                    continue;
                }
                WaitBeforeFrame(*frame, wait, lastTime, lastWait);
                if (Terminated()) break;
                FireEvent(OnPaintFrame);
                if (Terminated()) break;
                frame = FrameAt(ActiveFrame);  // the handler may have moved on
                if (frame == nullptr) break;
                noteLoop(*frame);
                // The block that gave the frame its transparency, and chose
                // the buffers, gives its disposal too.
                const TGIFGraphicControlExtension* control = frame->GraphicControlExtension();
                CurrentDisposal = control != nullptr ? control->Disposal() : 1;
                RunStep([this] { PaintFrame(); });
                PreviousDisposal = CurrentDisposal;
                if (Terminated()) break;
                shownAny = true;
                wait = FallbackFrameDelay;
                if (control != nullptr && control->Delay() > 0) {
                    wait = control->Delay();
                    if (wait < ShortestFrameDelay) wait = ShortestFrameDelay;
                    if (wait > LongestSyncFrameDelay && !Threaded()) wait = LongestSyncFrameDelay;
                }
                const int32_t shown = ActiveFrame;
                FireEvent(OnFramePainted);
                if (Terminated()) break;
                if (ActiveFrame == shown) ActiveFrame = shown + 1;
                if (!animate) break;
            }
            if (loopCount > 0) --loopCount;
            if (!animate || (PaintFlags & gpLoop) == 0) break;
            // Nothing to show (every frame empty): passes would follow
            // each other without a wait.
            if (!shownAny) break;
        }
    }
    ActiveFrame = -1;
    FireEvent(OnPaintEnd);
}

void TGIFPainter::WaitBeforeFrame(TGIFSubImage& frame, int32_t& wait, uint32_t& lastTime, int32_t& lastWait) {
    if (wait <= 0) {
        Sleep(0);
    } else {
        // The frame is rendered before the clock is read, so that the
        // rendering counts as part of the wait. It is rendered on the
        // window thread, which uses the same frame cache.
        RunStep([&frame] { frame.FrameBitmap(); });
        const uint32_t now = timeGetTime();
        if (PlaybackSpeed > 0) {
            wait = FrameWaitMs(wait, PlaybackSpeed, now, lastTime, lastWait);
            lastWait = wait;
        } else if (Threaded()) {
            wait = kWaitForever;
        } else {
            wait = LongestSyncFrameDelay * FrameDelayUnitMs;
        }
        lastTime = now;
    }
    frameWait_ = wait;
    if (Threaded()) {
        // A negative speed shows the frames without waiting; speed 0 waits
        // until the painter is stopped.
        if ((wait > 0 || PlaybackSpeed == 0) && wakeEvent_ &&
            wakeEvent_->WaitFor(static_cast<uint32_t>(wait)) == TEvent::wrSignaled) {
            lastWait = 0;
            lastTime = timeGetTime();
        }
        return;
    }
    PumpMessagesWhileWaiting(wait <= 0 ? 1 : wait);
}

void TGIFPainter::PumpMessagesWhileWaiting(int32_t wait) {
    uint32_t t = timeGetTime();
    while (wait > 0 && !Terminated() && !RestartRequested) {
        Sleep(static_cast<uint32_t>(wait < 100 ? wait : 100));
        const uint32_t now = timeGetTime();
        wait -= static_cast<int32_t>(now - t);
        t = now;
        if (Terminated() || RestartRequested) break;
        // A quit asked for meanwhile ends the painter and is passed on to
        // the loop that owns it.
        if (ProcessPendingMessages()) {
            PostQuitMessage();
            Terminate();
        }
    }
}

// ------------------------------------------------------------ painting

void TGIFPainter::PaintFrame() {
    TGIFSubImage* frame = FrameAt(ActiveFrame);
    if (frame == nullptr) return;
    // A target that has gone stops the painter quietly, whichever way it
    // paints.
    if ((PaintFlags & gpValidateCanvas) != 0 &&
        (validationSerial_ == 0 || LiveCanvasSerial(validationDC_) != validationSerial_)) {
        Terminate();
        return;
    }
    if (compose_)
        PaintFrameBuffered(*frame);
    else
        PaintFrameDirect(*frame);
}

void TGIFPainter::PaintFrameDirect(TGIFSubImage& frame) {
    frame.Paint(*canvas_, rect_, (PaintFlags & gpTransparent) != 0, (PaintFlags & gpTile) != 0);
    firstFramePainted_ = true;
}

void TGIFPainter::PaintFrameBuffered(TGIFSubImage& frame) {
    const bool transparent = (PaintFlags & gpTransparent) != 0, tile = (PaintFlags & gpTile) != 0;
    const bool clearFirst = (PaintFlags & gpClearOnLoop) != 0 && ActiveFrame == 0;
    const uint8_t current = EffectiveDisposal(CurrentDisposal), previous = EffectiveDisposal(PreviousDisposal);
    const TRect area = Rect(0, 0, compose_->Width(), compose_->Height());

    // Disposal 3 leaves ComposeBuffer as it was: after a frame left in
    // place the target shows ComposeBuffer, so the frame goes straight
    // onto it; after a restored one the target does not, so the frame is
    // composed over a copy.
    TCanvas* target = &compose_->Canvas();
    TRect targetArea = area;
    bool copyToTarget = true;
    if (current == 3 && previous <= 1) {
        target = canvas_;
        targetArea = rect_;
        copyToTarget = false;
    } else if (current == 3) {
        target = &scratch_->Canvas();
    }
    if (clearFirst) RestoreBackground(frame);
    if (target == &scratch_->Canvas()) scratch_->Canvas().CopyRect(area, compose_->Canvas(), area);
    frame.Paint(*target, targetArea, transparent, tile);
    if (copyToTarget) {
        canvas_->CopyMode = cmSrcCopy;
        canvas_->CopyRect(rect_, *target, area);
    }
    if (current == 2) RestoreBackground(frame);
    firstFramePainted_ = true;
}

void TGIFPainter::RestoreBackground(TGIFSubImage& frame) {
    TGIFPicture* image = Image();
    if (image == nullptr) return;
    TCanvas& compose = compose_->Canvas();
    const TRect area = Rect(0, 0, compose_->Width(), compose_->Height());
    const int32_t screenWidth = image->Width(), screenHeight = image->Height();
    // The frame was painted into ComposeBuffer's own area, so that is
    // where its tiles and its scaled place lie.
    auto eachTile = [&](auto each) {
        ForEachTile(frame.Left(), frame.Top(), frame.Width(), frame.Height(), screenWidth, screenHeight, area.Right,
                    area.Bottom, each);
    };
    const bool tile = (PaintFlags & gpTile) != 0;
    if ((PaintFlags & gpTransparent) != 0) {
        if (!underlay_) return;
        TCanvas& underlay = underlay_->Canvas();
        if (tile) {
            eachTile([&](const TRect& t) { compose.CopyRect(t, underlay, t); });
        } else {
            const TRect r = frame.ScaledRect(area);
            compose.CopyRect(r, underlay, r);
        }
    } else if (tile && screenWidth != frame.Width() && screenHeight != frame.Height()) {
        compose.Brush.Color = background_;
        eachTile([&](const TRect& t) { compose.FillRect(t); });
    } else {
        compose.FillRect(frame.ScaledRect(area));
    }
}

// ------------------------------------------------------------ the end

void TGIFPainter::Detach() {
    if (TGIFPicture* image = Image()) {
        image->Painters.LockList();
        UnlockOnExit unlock{image->Painters};
        if (slot_ != nullptr && *slot_ == this) *slot_ = nullptr;
        image->Painters.Remove(this);
        image_ = nullptr;
    }
    compose_.reset();
    scratch_.reset();
    underlay_.reset();
    wakeEvent_.reset();
    // Nobody waits for a threaded painter's run: what ended it goes to the
    // application, on the window thread, never to the painter's own thread.
    if (Threaded() && PendingException) {
        std::exception_ptr error = std::exchange(PendingException, nullptr);
        HandleApplicationException(error);
    }
}

void TGIFPainter::ForgetImage() {
    Terminate();
    slot_ = nullptr;
    image_ = nullptr;
    if (Threaded() && wakeEvent_) wakeEvent_->SetEvent();
}

// ------------------------------------------------------------ the picture's side

TGIFPainter* TGIFPicture::StartPainter(TGIFPainter** reference, TCanvas& canvas, TGIFPaintFlags flags,
                                       const TRect& rect) {
    if (Empty() || rect.Left >= rect.Right || rect.Top >= rect.Bottom) {
        if (reference != nullptr) *reference = nullptr;
        return nullptr;
    }
    if (Images().Count() == 1) flags &= static_cast<TGIFPaintFlags>(~(gpThreaded | gpAnimate));
    auto* painter = new TGIFPainter(this, flags, rect, &canvas, reference);
    Painters.Add(painter);
    painter->OnPaintStart = OnPaintStart;
    painter->OnPaintFrame = OnPaintFrame;
    painter->OnFramePainted = OnFramePainted;
    painter->OnPaintLoop = OnPaintLoop;
    painter->OnPaintEnd = OnPaintEnd;
    if (painter->Threaded()) {
        painter->Priority = PainterPriority;
        return painter;
    }
    // The run pumps the window loop, which can destroy this picture: from
    // then on nothing of it is touched, and the painter has forgotten it.
    std::unique_ptr<TGIFPainter> owned(painter);
    const std::shared_ptr<TDrawState> keep = drawState_;
    painter->Execute();
    painter->Detach();
    std::exception_ptr error = painter->PendingException;
    owned.reset();
    if (keep->alive && reference != nullptr) *reference = nullptr;
    if (error) std::rethrow_exception(error);
    return nullptr;
}

void TGIFPicture::StopDrawPainter() {
    for (;;) {
        Painters.LockList();
        TGIFPainter* painter = DrawPainter;
        if (painter == nullptr) {
            Painters.UnlockList();
            break;
        }
        painter->RequestStop();
        // A synchronous painter ends on its own once told; one whose step
        // is running cannot end before that step returns.
        const bool wait = painter->Threaded() && !painter->InStep();
        Painters.UnlockList();
        if (!wait) break;
        if (IsMainThread())
            while (CheckSynchronize()) {
            }
        Sleep(0);
    }
    DropBitmap();
}

void TGIFPicture::StopAllPainters() {
    for (;;) {
        TList& painters = Painters.LockList();
        if (painters.Count() == 0) {
            Painters.UnlockList();
            break;
        }
        int waitFor = 0;
        for (int i = painters.Count() - 1; i >= 0; --i) {
            auto* painter = static_cast<TGIFPainter*>(painters.Items(i));
            if (painter->Threaded() && !painter->InStep()) ++waitFor;
            painter->RequestStop();
        }
        Painters.UnlockList();
        if (waitFor == 0) break;
        if (IsMainThread())
            while (CheckSynchronize()) {
            }
        Sleep(0);
    }
    DropBitmap();
}

void TGIFPicture::DrawTiled(TCanvas& canvas, const TRect& rect, TBitmap& bitmap) {
    if ((PaintFlags & gpTile) == 0) {
        canvas.StretchDraw(rect, bitmap);
        return;
    }
    const int32_t w = Width(), h = Height();
    ForEachTile(rect.Left, rect.Top, w, h, w, h, rect.Right, rect.Bottom,
                [&](const TRect& t) { canvas.StretchDraw(t, bitmap); });
}

void TGIFPicture::Draw(TCanvas& canvas, const TRect& rect) {
    // The state outlives this picture if code run from here destroys it.
    const std::shared_ptr<TDrawState> keep = drawState_;
    if (keep->drawing || Empty()) return;
    keep->drawing = true;
    struct Release {
        TDrawState& state;
        ~Release() { state.drawing = false; }
    } release{*keep};

    const bool direct = (PaintFlags & gpDirectCanvas) != 0;
    if (Images().Count() == 1 || (PaintFlags & gpAnimate) == 0) {
        Images()[0]->Paint(canvas, rect, (PaintFlags & gpTransparent) != 0, (PaintFlags & gpTile) != 0);
        return;
    }
    if (cachedBitmap_ != nullptr && !direct) {
        // A running painter keeps the bitmap current.
        DrawTiled(canvas, rect, *cachedBitmap_);
        return;
    }
    keep->painters.LockList();
    UnlockOnExit unlock{keep->painters};
    if (DrawPainter != nullptr && DrawPainter->Canvas() == &canvas && EqualRect(DrawPainter->Rectangle(), rect))
        return;
    StopDrawPainter();
    TCanvas* target = &canvas;
    TRect targetRect = rect;
    if (!direct) {
        // The painter draws into the cached bitmap, over what the caller's
        // canvas shows there.
        TBitmap& bitmap = EnsureBitmap();
        targetRect = Rect(0, 0, bitmap.Width(), bitmap.Height());
        bitmap.Canvas().CopyRect(targetRect, canvas, rect);
        target = &bitmap.Canvas();
    }
    TGIFPainter* painter = StartPainter(&keep->drawPainter, *target, PaintFlags, targetRect);
    if (!keep->alive) return;
    if (painter != nullptr) painter->Start();
    if (direct) return;
    if (painter != nullptr) {
        // The slot, not the painter, is watched: a threaded painter frees
        // itself right after it has cleared the slot.
        while (keep->drawPainter == painter && !painter->FirstFramePainted() && !painter->Terminated()) {
            if (!IsMainThread() || !CheckSynchronize()) Sleep(0);
        }
        if (!keep->alive) return;
    }
    if (cachedBitmap_ != nullptr) DrawTiled(canvas, rect, *cachedBitmap_);
}
