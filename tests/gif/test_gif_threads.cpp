// A frame and the bitmap that shares its pixels, on two threads. The
// ThreadSanitizer build runs this too.
#include <gtest/gtest.h>

#include <cstring>
#include <thread>
#include <utility>

#include "tests/gif/GifTestKit.h"

using namespace giftest;

namespace {

constexpr int kSide = 1024;  // a pooled block, rows without padding

bool Holds(const uint8_t* first, int stride, uint8_t seed) {
    for (int y = 0; y < kSide; ++y)
        for (int x = 0; x < kSide; ++x)
            if (first[size_t(y) * stride + x] != uint8_t(seed + x + y)) return false;
    return true;
}

void Write(uint8_t* row, int y, uint8_t seed) {
    for (int x = 0; x < kSide; ++x) row[x] = uint8_t(seed + x + y);
}

}  // namespace

// The frame read on one thread while the bitmap is written on another, and
// the other way round: the writer gets a copy of its own first, the reader
// keeps the frame's bytes throughout.
TEST(GIFThreads, AFrameAndTheBitmapSharingItsPixelsWrittenAndReadOnTwoThreads) {
    std::vector<TColor> colors;
    for (int i = 0; i < 256; ++i) colors.push_back(RGB(i, 255 - i, i / 2));
    Bytes pixels(size_t(kSide) * kSide);
    for (size_t i = 0; i < pixels.size(); ++i) pixels[i] = uint8_t(i % kSide + i / kSide);
    for (const bool frameWrites : {false, true, false, true}) {
        SCOPED_TRACE(frameWrites ? "the frame written" : "the bitmap written");
        auto gif = Build(kSide, kSide, colors, {{Rect(0, 0, kSide, kSide), pixels}});
        TGIFSubImage& frame = *gif->Images()[0];
        TBitmap bitmap;
        bitmap.Assign(gif.get());
        ASSERT_EQ(std::as_const(bitmap).ScanLine(0), std::as_const(frame).Data());
        const int stride = bitmap.RowBytes();
        std::thread writer([&] {
            for (int y = 0; y < kSide; ++y) Write(frameWrites ? frame.RowPixels(y) : bitmap.ScanLine(y), y, 9);
        });
        const bool readerSaw = frameWrites ? Holds(std::as_const(bitmap).ScanLine(0), stride, 0)
                                : Holds(std::as_const(frame).Data(), kSide, 0);
        writer.join();
        EXPECT_TRUE(readerSaw);
        EXPECT_TRUE(Holds(std::as_const(frame).Data(), kSide, frameWrites ? 9 : 0));
        EXPECT_TRUE(Holds(std::as_const(bitmap).ScanLine(0), stride, frameWrites ? 0 : 9));
    }
}
