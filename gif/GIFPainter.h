// Animation painters: each shows an animated GIF picture on a canvas,
// stepping through its frames with the delays and disposal methods the file
// gives and repeating them as its loop extension asks.
//
// A threaded painter (gpThreaded) runs the timing on a thread of its own and
// does every painting step and every paint event on the window thread
// through TThread::Synchronize; a synchronous one runs the whole animation
// inside the draw call that started it, pumping the window loop while it
// waits.
#pragma once

#include <atomic>
#include <exception>
#include <memory>

#include "gif/GIFPicture.h"

// Timing, in the file's delay units of 1/100 s.
extern int32_t FrameDelayUnitMs;       // milliseconds per delay unit: 12
extern int32_t FallbackFrameDelay;     // a frame without a delay waits 10 units
extern int32_t ShortestFrameDelay;     // shorter delays are raised to 3 units
extern int32_t LongestSyncFrameDelay;  // a synchronous painter waits at most 1000 units

// The wait before a frame, in milliseconds, at speed percent (above 0):
// units of delay, less half of how late the last wait ended (now - lastTime
// - lastWait, the clock's readings taken unsigned, the half truncated
// towards zero). -1 when the arithmetic overflows.
int32_t FrameWaitMs(int32_t units, int32_t speed, uint32_t now, uint32_t lastTime, int32_t lastWait);

class TGIFPainter : public TThread {
public:
    // Created suspended; a threaded painter frees itself once its run is
    // over and Detach has run on the window thread. slot, when given,
    // receives the painter and is cleared when it ends.
    TGIFPainter(TGIFPicture* image, TGIFPaintFlags flags, const TRect& rect, TCanvas* canvas,
                TGIFPainter** slot = nullptr);
    ~TGIFPainter() override;
    const char* ClassName() const override { return "TGIFPainter"; }

    // Resumes a threaded painter; nothing for a synchronous one.
    void Start();
    // Asks the painter to end: a waiting threaded painter wakes at once.
    void RequestStop();

    bool Threaded() const { return (PaintFlags & gpThreaded) != 0; }
    bool FirstFramePainted() const { return firstFramePainted_.load(); }
    // nullptr once the painter has detached or the picture has gone.
    TGIFPicture* Image() const { return image_.load(); }
    TCanvas* Canvas() const { return canvas_; }
    const TRect& Rectangle() const { return rect_; }
    // The wait before the frame being shown, in milliseconds, as the
    // painter worked it out (0 when it did not wait; -1 for without end).
    int32_t FrameWait() const { return frameWait_.load(); }
    // True while one of the painter's steps runs on the window thread.
    bool InStep() const { return inStep_.load() > 0; }

    const TGIFPaintFlags PaintFlags;
    int32_t PlaybackSpeed;
    // The frame being shown, -1 when not running. An OnFramePainted handler
    // may set it: the painter goes on from the frame it names.
    std::atomic<int32_t> ActiveFrame{-1};
    std::atomic<bool> RestartRequested{false};
    uint8_t CurrentDisposal = 1, PreviousDisposal = 1;
    // What ended the run, when an exception did.
    std::exception_ptr PendingException;
    TNotifyEvent OnPaintStart, OnPaintFrame, OnFramePainted, OnPaintLoop, OnPaintEnd;

protected:
    void Execute() override;

private:
    friend class TGIFPicture;

    void Play();
    void WaitBeforeFrame(TGIFSubImage& frame, int32_t& wait, uint32_t& lastTime, int32_t& lastWait);
    void PumpMessagesWhileWaiting(int32_t wait);
    // On the window thread: painting and the end of the run.
    void PaintFrame();
    void PaintFrameDirect(TGIFSubImage& frame);
    void PaintFrameBuffered(TGIFSubImage& frame);
    void RestoreBackground(TGIFSubImage& frame);
    void Detach();
    // The picture goes away while the painter still lists in it.
    void ForgetImage();

    void RunStep(const std::function<void()>& step);
    void FireEvent(const TNotifyEvent& handler);
    TGIFSubImage* FrameAt(int32_t index) const;

    std::atomic<TGIFPicture*> image_;
    TCanvas* canvas_;
    const TRect rect_;
    TGIFPainter** slot_ = nullptr;
    TColor background_ = clWhite;
    std::unique_ptr<TBitmap> compose_, scratch_, underlay_;
    std::unique_ptr<TEvent> wakeEvent_;
    HDC validationDC_ = nullptr;
    uint64_t validationSerial_ = 0;
    std::atomic<bool> firstFramePainted_{false};
    std::atomic<int32_t> frameWait_{0};
    std::atomic<int> inStep_{0};
};
