// Animation painting benchmark: plays a GIF animation as the open dialog's
// preview does (the picture draws itself into a 200 x 200 area, a painter
// keeps its cached bitmap current, the preview is drawn again after every
// frame) and times each frame's painting: composing the frame over the
// ones before, its disposal, and the stretch into the preview. The frames'
// first rendering from their pixel indices is timed apart.

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "bench/bench_support.h"
#include "gif/GIFPainter.h"

namespace {

using Clock = std::chrono::steady_clock;

double Ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

int Run(const std::string& file, int passes) {
    TGIFPicture gif;
    gif.LoadFromFile(file);
    const int frames = gif.Images().Count();
    // Every frame rendered once beforehand: what is timed below is painting.
    const auto renderStart = Clock::now();
    for (int i = 0; i < frames; ++i) gif.Images()[i]->FrameBitmap();
    const double render = Ms(Clock::now() - renderStart);

    TBitmap preview;
    preview.SetPixelFormat(TPixelFormat::pf32bit);
    preview.SetSize(200, 200);
    const int32_t w = gif.Width(), h = gif.Height();
    const TRect target = w >= h ? Bounds(0, (200 - 200 * h / w) / 2, 200, 200 * h / w)
                                : Bounds((200 - 200 * w / h) / 2, 0, 200 * w / h, 200);
    // What the picture's Draw does once its painter runs: the cached
    // bitmap the painter keeps current, stretched into the preview.
    auto redraw = [&](TBitmap& cached) {
        preview.Canvas().Brush.Color = clBtnFace;
        preview.Canvas().FillRect(Rect(0, 0, 200, 200));
        preview.Canvas().StretchDraw(target, cached);
    };

    // The painter runs on this thread so that nothing else is timed; a
    // handler stops it after the passes asked for.
    gif.PaintFlags = static_cast<TGIFPaintFlags>((gif.PaintFlags & ~gpThreaded) | gpLoopForever);
    gif.PlaybackSpeed = 1000000;
    std::vector<double> paint;
    Clock::time_point start;
    int shown = 0;
    gif.OnPaintFrame = [&](TObject*) { start = Clock::now(); };
    gif.OnFramePainted = [&](TObject* sender) {
        redraw(*static_cast<TGIFPainter*>(sender)->Canvas()->Target());
        paint.push_back(Ms(Clock::now() - start));
        if (++shown == passes * frames) static_cast<TGIFPainter*>(sender)->RequestStop();
    };
    // The first draw starts the painter, which plays to the end here.
    preview.Canvas().StretchDraw(target, gif);
    std::printf("animation: %d x %d, %d frames, %d passes\n", w, h, frames, passes);
    std::printf("rendering every frame once: %.1f ms (%.2f ms a frame)\n", render, render / frames);
    std::printf("painting a frame into the preview: median %.2f ms, slowest %.2f ms (%zu frames)\n", bench::Median(paint),
                paint.empty() ? 0.0 : *std::max_element(paint.begin(), paint.end()), paint.size());
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2 || argc > 3) {
        std::fprintf(stderr, "usage: quillarc-gifpaint INPUT.gif [PASSES]\n");
        return 2;
    }
    const int passes = argc == 3 ? std::max(1, std::atoi(argv[2])) : 5;
    try {
        return Run(argv[1], passes);
    } catch (const Exception& e) {
        std::fprintf(stderr, "%s: %s\n", e.ClassName(), e.Message().c_str());
        return 1;
    }
}
