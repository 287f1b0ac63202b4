// A frame and the bitmap that shares its pixels, on two threads. The
// ThreadSanitizer build runs this too.
#include <gtest/gtest.h>

#include <cstring>
#include <latch>
#include <thread>
#include <utility>

#include "tests/gif/GifTestKit.h"

using namespace giftest;

namespace {

constexpr int kSide = 1024;  // a pooled block, rows without padding

bool Holds(const uint8_t* first, int stride, const Bytes& pixels) {
    for (int y = 0; y < kSide; ++y)
        if (std::memcmp(first + size_t(y) * stride, pixels.data() + size_t(y) * kSide, kSide) != 0) return false;
    return true;
}

}  // namespace

// The frame read on one thread while the bitmap is written on another, and
// the other way round: the writer gets a copy of its own first, the reader
// keeps the frame's bytes throughout.
TEST(GIFThreads, AFrameAndTheBitmapSharingItsPixelsWrittenAndReadOnTwoThreads) {
    std::vector<TColor> colors;
    for (int i = 0; i < 256; ++i) colors.push_back(RGB(i, 255 - i, i / 2));
    Bytes pixels(size_t(kSide) * kSide);
    for (size_t i = 0; i < pixels.size(); ++i) pixels[i] = uint8_t(i * 7 + i / kSide);
    const Bytes written(pixels.size(), 9);
    for (int round = 0; round < 4; ++round) {
        const bool frameWrites = round % 2 == 1;
        SCOPED_TRACE(frameWrites ? "the frame written" : "the bitmap written");
        auto gif = Build(kSide, kSide, colors, {{Rect(0, 0, kSide, kSide), pixels}});
        TGIFSubImage* frame = gif->Images()[0];
        TBitmap bitmap;
        bitmap.Assign(gif.get());
        ASSERT_EQ(std::as_const(bitmap).ScanLine(0), std::as_const(*frame).Data());
        const int stride = bitmap.RowBytes();

        auto writeFrame = [&] {
            for (int y = 0; y < kSide; ++y) std::memset(frame->RowPixels(y), 9, kSide);
        };
        auto writeBitmap = [&] {
            for (int y = 0; y < kSide; ++y) std::memset(bitmap.ScanLine(y), 9, kSide);
        };
        bool readerSaw = false;
        auto readFrame = [&] { readerSaw = Holds(std::as_const(*frame).Data(), kSide, pixels); };
        auto readBitmap = [&] { readerSaw = Holds(std::as_const(bitmap).ScanLine(0), stride, pixels); };
        std::latch start(2);
        std::thread other([&] {
            start.arrive_and_wait();
            frameWrites ? writeFrame() : readFrame();
        });
        start.arrive_and_wait();
        frameWrites ? readBitmap() : writeBitmap();
        other.join();

        EXPECT_TRUE(readerSaw);
        const uint8_t* frameBytes = std::as_const(*frame).Data();
        const uint8_t* bitmapBytes = std::as_const(bitmap).ScanLine(0);
        EXPECT_NE(frameBytes, bitmapBytes);
        EXPECT_TRUE(Holds(frameBytes, kSide, frameWrites ? written : pixels));
        EXPECT_TRUE(Holds(bitmapBytes, stride, frameWrites ? pixels : written));
    }
}
