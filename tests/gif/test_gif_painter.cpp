// Animation painters over animations ImageMagick and gifsicle made at test
// time: the frames they paint against ImageMagick's coalesced frames, the
// order of frames and passes, the waits, stopping, and pictures destroyed
// while they play.
#include <gtest/gtest.h>

#include <fstream>
#include <memory>
#include <utility>

#include "gif/GIFPainter.h"

namespace {

const std::string kAnim = std::string(QUILLARC_GENERATED_DATA) + "/gifanim/";

constexpr TGIFPaintFlags kOnce = gpThreaded | gpTransparent | gpAnimate | gpDirectCanvas;

struct Played {
    std::vector<int> frames, waits;           // at each OnFramePainted
    std::vector<std::vector<TColor>> shown;  // the target then
    int loops = 0, ends = 0;
};

std::vector<TColor> Pixels(const TBitmap& b, const TRect& r) {
    std::vector<TColor> out;
    for (int y = r.Top; y < r.Bottom; ++y)
        for (int x = r.Left; x < r.Right; ++x) out.push_back(b.Pixel(x, y));
    return out;
}

// ImageMagick's coalesced frame, as "P6 w h 255" and RGB bytes.
std::vector<TColor> ReadPpm(const std::string& file) {
    std::ifstream in(file, std::ios::binary);
    std::string magic;
    int w = 0, h = 0, max = 0;
    in >> magic >> w >> h >> max;
    in.get();
    std::vector<TColor> out;
    for (unsigned char rgb[3]; std::ssize(out) < w * h && in.read(reinterpret_cast<char*>(rgb), 3);)
        out.push_back(RGB(rgb[0], rgb[1], rgb[2]));
    return out;
}

int PainterCount(TGIFPicture& gif) {
    const int n = gif.Painters.LockList().Count();
    gif.Painters.UnlockList();
    return n;
}

// Runs the window thread's queued steps until done() or 20 s have passed.
bool PumpUntil(const std::function<bool()>& done) {
    const uint32_t start = timeGetTime();
    while (!done()) {
        if (timeGetTime() - start > 20000) return false;
        CheckSynchronize(2);
    }
    return true;
}

// Loads name and plays it at 1:1 on a white bitmap, inset by margin:
// threaded (pumped here until the painter is gone, or until stopAfter
// frames) or synchronous. hook sees the painter after each frame.
std::unique_ptr<TGIFPicture> Play(const std::string& name, TGIFPaintFlags flags, int32_t speed, Played& run,
                                  TBitmap& target, size_t stopAfter = 0, int margin = 0,
                                  std::function<void(TGIFPainter&)> hook = nullptr) {
    auto gif = std::make_unique<TGIFPicture>();
    gif->LoadFromFile(kAnim + name);
    gif->PaintFlags = flags;
    gif->PlaybackSpeed = speed;
    gif->BackdropColor = clWhite;
    TGIFPicture* g = gif.get();
    const TRect screen = Bounds(margin, margin, gif->Width(), gif->Height());
    gif->OnFramePainted = [&run, &target, g, stopAfter, screen, hook](TObject* sender) {
        auto* painter = static_cast<TGIFPainter*>(sender);
        EXPECT_TRUE(IsMainThread());
        run.frames.push_back(painter->ActiveFrame);
        run.waits.push_back(painter->FrameWait());
        run.shown.push_back(Pixels(target, screen));
        if (run.frames.size() == stopAfter) g->StopAllPainters();
        if (hook) hook(*painter);
    };
    // Rendering, painting and every event happen on the window thread.
    gif->OnProgress = [](TObject*, TProgressStage, uint8_t, bool, const TRect&, const std::string&) {
        EXPECT_TRUE(IsMainThread());
    };
    gif->OnPaintLoop = [&run](TObject*) { ++run.loops; };
    gif->OnPaintEnd = [&run](TObject*) { ++run.ends; };
    target.SetPixelFormat(TPixelFormat::pf24bit);
    target.SetSize(gif->Width() + 2 * margin, gif->Height() + 2 * margin);
    target.Canvas().Brush.Color = clWhite;
    target.Canvas().FillRect(Rect(0, 0, target.Width(), target.Height()));
    gif->Draw(target.Canvas(), screen);
    EXPECT_TRUE(PumpUntil([g] { return PainterCount(*g) == 0; })) << name;
    return gif;
}

}  // namespace

TEST(GIFPainter, FramesEqualImageMagicksCoalescedFramesThreadedAndSynchronous) {
    std::ifstream list(kAnim + "compare.txt");
    std::string name;
    int files = 0;
    while (list >> name) {
        ++files;
        for (const TGIFPaintFlags flags : {kOnce, static_cast<TGIFPaintFlags>(kOnce & ~gpThreaded)}) {
            SCOPED_TRACE(name + ((flags & gpThreaded) ? " threaded" : " synchronous"));
            Played run;
            TBitmap target;
            // The synchronous run paints away from the canvas's corner:
            // restored areas must land where their frames were.
            Play(name + ".gif", flags, 10000, run, target, 0, flags & gpThreaded ? 0 : 6);
            ASSERT_EQ(run.ends, 1);
            for (size_t i = 0;; ++i) {
                const std::string ref = kAnim + name + Format("_%.3d.ppm", static_cast<int>(i));
                if (!std::ifstream(ref)) {
                    EXPECT_EQ(run.shown.size(), i);
                    break;
                }
                ASSERT_LT(i, run.shown.size());
                EXPECT_EQ(run.frames[i], static_cast<int>(i));
                EXPECT_TRUE(run.shown[i] == ReadPpm(ref)) << "frame " << i;
            }
        }
    }
    EXPECT_GE(files, 8);
}

TEST(GIFPainter, WaitArithmetic) {
    // 10 units at speed 100, 7 ms late: 120 - 3; early by 7: 120 + 3.
    EXPECT_EQ(FrameWaitMs(10, 100, 1000 + 120 + 7, 1000, 120), 117);
    EXPECT_EQ(FrameWaitMs(10, 100, 1000 + 120 - 7, 1000, 120), 123);
    EXPECT_EQ(FrameWaitMs(10, 200, 1000, 1000, 0), 60);
    EXPECT_EQ(FrameWaitMs(10, 50, 1000, 1000, 0), 240);
    EXPECT_EQ(FrameWaitMs(3, 300, 500, 500, 0), 12);
    // The clock wrapped between the two readings: 32 ms passed, 20 waited.
    EXPECT_EQ(FrameWaitMs(20, 100, 0x10, 0xFFFFFFF0u, 20), 240 - 6);
}

TEST(GIFPainter, PassesFollowTheLoopExtensionAndTheFlags) {
    struct Case {
        const char* file;
        TGIFPaintFlags flags;
        std::vector<int> frames;
        int loops;
    };
    const TGIFPaintFlags loop = kOnce | gpLoop, sync = loop & ~gpThreaded;
    const std::vector<Case> cases = {
        // Loop count 3: three passes in all.
        {"delays.gif", loop, {0, 1, 2, 3, 4, 0, 1, 2, 3, 4, 0, 1, 2, 3, 4}, 2},
        {"delays.gif", kOnce, {0, 1, 2, 3, 4}, 0},
        // Loop count 2 on frame 2: the second pass starts there.
        {"loop_at_2.gif", loop, {0, 1, 2, 3, 4, 2, 3, 4}, 1},
        // No loop extension: once, unless looping for ever.
        {"no_control.gif", loop, {0, 1, 2}, 0},
        // Loop count 0: once in a synchronous painter.
        {"long_delay.gif", sync, {0, 1}, 0},
        // The empty frame 1 is passed over, the pass goes on.
        {"stray_zero.gif", kOnce, {0, 2, 3, 4, 5, 6}, 0},
        // Nothing to show: the run ends instead of spinning.
        {"all_empty.gif", kOnce | gpLoop | gpLoopForever, {}, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        Played run;
        TBitmap target;
        Play(c.file, c.flags, c.flags & gpThreaded ? -1 : 100000, run, target);
        EXPECT_EQ(run.frames, c.frames);
        EXPECT_EQ(run.loops, c.loops);
        EXPECT_EQ(run.ends, 1);
    }
    // Loop count 0 or gpLoopForever: a threaded painter goes on until stopped.
    for (const TGIFPaintFlags flags : {loop, static_cast<TGIFPaintFlags>(kOnce | gpLoop | gpLoopForever)}) {
        Played run;
        TBitmap target;
        Play(flags & gpLoopForever ? "delays.gif" : "long_delay.gif", flags, -1, run, target, 40);
        EXPECT_EQ(run.frames.size(), 40u);
        EXPECT_EQ(run.ends, 0);  // stopped, not ended
    }
}

TEST(GIFPainter, WaitsFollowTheDelays) {
    // Delays 0, 1, 2, 10, 20: the wait before each frame comes from the
    // frame before (none: 10 units; 1 and 2: 3 units; 12 ms a unit), less
    // half of any lateness.
    Played run;
    TBitmap target;
    Play("delays.gif", kOnce | gpLoop, 100, run, target, 7);
    const std::vector<int> want = {0, 120, 36, 36, 120, 240, 120};
    ASSERT_EQ(run.waits.size(), want.size());
    for (size_t i = 0; i < want.size(); ++i) {
        EXPECT_LE(run.waits[i], want[i]) << i;
        EXPECT_GE(run.waits[i], want[i] / 3) << i;
    }
    // A synchronous painter waits at most 1000 units (5000 asked for).
    Played sync;
    Play("long_delay.gif", kOnce & ~gpThreaded, 100000, sync, target);
    ASSERT_EQ(sync.waits.size(), 2u);
    EXPECT_NEAR(sync.waits[1], 12, 1);
    // Speed 0: the first frame, then nothing until stopped, which wakes
    // the painter at once.
    auto gif = std::make_unique<TGIFPicture>();
    gif->LoadFromFile(kAnim + "delays.gif");
    gif->PaintFlags = kOnce | gpLoop;
    gif->PlaybackSpeed = 0;
    int shown = 0;
    gif->OnFramePainted = [&shown](TObject*) { ++shown; };
    gif->Draw(target.Canvas(), Rect(0, 0, 48, 36));
    const uint32_t start = timeGetTime();
    while (timeGetTime() - start < 300) CheckSynchronize(5);
    EXPECT_EQ(shown, 1);
    gif.reset();
    EXPECT_LT(timeGetTime() - start, 2000u);
}

TEST(GIFPainter, AHandlerCanMoveTheActiveFrame) {
    Played run;
    TBitmap target;
    bool moved = false;
    Play("disposal1.gif", kOnce & ~gpThreaded, 100000, run, target, 0, 0, [&moved](TGIFPainter& painter) {
        if (painter.ActiveFrame == 2 && !std::exchange(moved, true)) painter.ActiveFrame = 0;
    });
    EXPECT_EQ(run.frames, (std::vector<int>{0, 1, 2, 0, 1, 2, 3, 4, 5}));
    // Undefined disposal values are read and kept as they stand.
    TGIFPicture five;
    five.LoadFromFile(kAnim + "disposal5.gif");
    EXPECT_EQ(five.Images()[1]->GraphicControlExtension()->Disposal(), 5);
}

TEST(GIFPainter, AnExceptionEndingAThreadedRunGoesToTheApplication) {
    std::vector<std::string> reported;
    auto previous = SetApplicationExceptionHandler([&](std::exception_ptr e) {
        EXPECT_TRUE(IsMainThread());
        try {
            std::rethrow_exception(e);
        } catch (const Exception& x) {
            reported.push_back(x.Message());
        }
    });
    for (int round = 0; round < 20; ++round) {
        auto gif = std::make_unique<TGIFPicture>();
        gif->LoadFromFile(kAnim + "disposal2.gif");
        // Before the first frame: Draw is still waiting for it, and the
        // painter frees itself right after it detaches.
        gif->OnPaintStart = [](TObject*) { throw EInvalidGraphic("broken"); };
        TBitmap preview;
        preview.SetSize(60, 40);
        gif->Draw(preview.Canvas(), Rect(0, 0, 60, 40));
        TGIFPicture* g = gif.get();
        EXPECT_TRUE(PumpUntil([g] { return PainterCount(*g) == 0; }));
    }
    EXPECT_EQ(reported, std::vector<std::string>(20, "broken"));
    SetApplicationExceptionHandler(previous);
    // A synchronous run raises it to the caller of Draw.
    TGIFPicture gif;
    gif.LoadFromFile(kAnim + "disposal2.gif");
    gif.PaintFlags &= static_cast<TGIFPaintFlags>(~gpThreaded);
    gif.OnPaintFrame = [](TObject*) { throw EInvalidGraphic("broken"); };
    TBitmap preview;
    preview.SetSize(60, 40);
    EXPECT_THROW(gif.Draw(preview.Canvas(), Rect(0, 0, 60, 40)), EInvalidGraphic);
    EXPECT_EQ(PainterCount(gif), 0);
}

TEST(GIFPainter, AStepQueuedBeforeTheTargetWasDroppedPaintsNothing) {
    std::atomic<int> queued{0};
    auto previous = SetWakeMainThreadHook([&queued] { ++queued; });
    TGIFPicture gif;
    gif.LoadFromFile(kAnim + "disposal0.gif");
    gif.PlaybackSpeed = -1;
    TBitmap preview;
    preview.SetSize(60, 40);
    gif.Draw(preview.Canvas(), Rect(0, 0, 60, 40));  // returns after frame 0's step
    // Steps: paint 0, then render 1 and paint 1. With paint 1 queued, the
    // cached bitmap it paints into goes.
    while (queued.load() < 2) Sleep(1);
    CheckSynchronize();
    while (queued.load() < 3) Sleep(1);
    gif.DropBitmap();
    EXPECT_TRUE(PumpUntil([&gif] { return PainterCount(gif) == 0; }));
    SetWakeMainThreadHook(previous);
}

TEST(GIFPainter, AVanishedTargetStopsThePainterQuietly) {
    for (const char* file : {"disposal1.gif", "disposal3.gif"}) {  // painted directly, buffered
        TGIFPicture gif;
        gif.LoadFromFile(kAnim + file);
        gif.PaintFlags = kOnce | gpLoop | gpLoopForever | gpValidateCanvas;
        gif.PlaybackSpeed = 10000;
        int painted = 0, ended = 0;
        gif.OnFramePainted = [&painted](TObject*) { ++painted; };
        gif.OnPaintEnd = [&ended](TObject*) { ++ended; };
        auto target = std::make_unique<TBitmap>();
        target->SetSize(48, 36);
        gif.Draw(target->Canvas(), Rect(0, 0, 48, 36));
        EXPECT_TRUE(PumpUntil([&painted] { return painted >= 3; }));
        target.reset();
        EXPECT_TRUE(PumpUntil([&gif] { return PainterCount(gif) == 0; }));
        EXPECT_EQ(ended, 0);
    }
}

TEST(GIFPainter, SynchronousPainterPlaysPumpsAndStops) {
    int pumps = 0, quits = 0;
    TGIFPicture* playing = nullptr;
    auto previous = SetMessagePump({[&] {
                                        // Stopped from the window loop after a while.
                                        if (++pumps == 30) playing->StopAllPainters();
                                        return false;
                                    },
                                    [&] { ++quits; }});
    TGIFPicture gif;
    playing = &gif;
    gif.LoadFromFile(kAnim + "mixed.gif");
    gif.PaintFlags = static_cast<TGIFPaintFlags>((DefaultPaintFlags & ~gpThreaded) | gpLoopForever);
    gif.PlaybackSpeed = 1000;
    int painted = 0;
    gif.OnFramePainted = [&painted](TObject*) { ++painted; };
    TBitmap preview;
    preview.SetSize(96, 72);
    gif.Draw(preview.Canvas(), Rect(0, 0, 96, 72));
    EXPECT_GT(painted, 1);
    EXPECT_EQ(gif.DrawPainter, nullptr);
    EXPECT_EQ(quits, 0);

    // A quit asked for while it waits ends it and is asked for again.
    pumps = 0;
    SetMessagePump({[&] { return ++pumps == 2; }, [&] { ++quits; }});
    painted = 0;
    TGIFPicture again;
    again.LoadFromFile(kAnim + "mixed.gif");
    again.PaintFlags = gif.PaintFlags;
    again.OnFramePainted = [&painted](TObject*) { ++painted; };
    again.Draw(preview.Canvas(), Rect(0, 0, 96, 72));
    EXPECT_EQ(quits, 1);
    EXPECT_LE(painted, 2);

    // The window loop destroys the picture while its painter waits: the
    // draw returns without touching it again.
    for (const TGIFPaintFlags extra : {TGIFPaintFlags(0), TGIFPaintFlags(gpDirectCanvas)}) {
        auto doomed = std::make_unique<TGIFPicture>();
        doomed->LoadFromFile(kAnim + "mixed.gif");
        doomed->PaintFlags = static_cast<TGIFPaintFlags>(gif.PaintFlags | extra);
        TGIFPicture* raw = doomed.get();
        SetMessagePump({[&doomed] {
                            doomed.reset();
                            return false;
                        },
                        [] {}});
        raw->Draw(preview.Canvas(), Rect(0, 0, 96, 72));
        EXPECT_EQ(doomed, nullptr);
    }
    SetMessagePump(previous);
}

TEST(GIFPainter, DrawStopAndFreeCyclesLeaveNothingBehind) {
    TBitmap preview;
    preview.SetSize(120, 90);
    for (int round = 0; round < 60; ++round) {
        auto gif = std::make_unique<TGIFPicture>();
        // all_empty.gif: a painter that ends before any first frame.
        gif->LoadFromFile(kAnim + (round % 3 == 2 ? "all_empty.gif" : round % 3 ? "mixed.gif" : "disposal2.gif"));
        gif->PlaybackSpeed = round % 3 == 0 ? -1 : 1000;
        if (round % 4 == 1) gif->PaintFlags |= gpDirectCanvas;
        gif->Draw(preview.Canvas(), Rect(0, 0, 120, 90));
        for (int i = 0; i < round % 5; ++i) CheckSynchronize(1);
        // Drawn again elsewhere: shows the cached bitmap, or, painting
        // directly, replaces the painter.
        gif->Draw(preview.Canvas(), Rect(10, 10, 70, 50));
        if (round % 7 == 0) gif->StopDrawPainter();
        if (round % 5 == 0) gif->Clear();
    }
    EXPECT_FALSE(CheckSynchronize(20));
}
