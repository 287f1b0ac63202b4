// Pixel blocks shared and pooled across threads: the owners of a shared
// block written, read and let go on several threads at once, and blocks
// coming and going while the pool's thread gives idle ones back. The
// ThreadSanitizer build runs these too.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <functional>
#include <latch>
#include <thread>
#include <utility>
#include <vector>

#include "platform/core/Graphics.h"
#include "platform/core/Parallel.h"
#include "platform/core/PixelBuffer.h"

namespace {

// 4.8 MB: a first writer's copy is made on the worker threads.
constexpr int32_t kWidth = 1200, kHeight = 1000;

void WriteRows(TBitmap& b, uint8_t seed) {
    for (int32_t y = 0; y < b.Height(); ++y) std::memset(b.ScanLine(y), static_cast<uint8_t>(seed + y), kWidth * 4);
}

bool RowsAre(const TBitmap& b, uint8_t seed) {
    for (int32_t y = 0; y < b.Height(); ++y) {
        const uint8_t* row = b.ScanLine(y);
        for (int32_t i = 0; i < kWidth * 4; ++i)
            if (row[i] != static_cast<uint8_t>(seed + y)) return false;
    }
    return true;
}

// Runs each job on a thread of its own, all let go at the same moment.
void AllAtOnce(const std::vector<std::function<void()>>& jobs) {
    std::latch start(static_cast<std::ptrdiff_t>(jobs.size()));
    std::vector<std::thread> threads;
    for (const auto& job : jobs)
        threads.emplace_back([&start, &job] {
            start.arrive_and_wait();
            job();
        });
    for (std::thread& t : threads) t.join();
}

}  // namespace

// Four bitmaps share a block (as the panes and the sketch copy do): one is
// read on a thread while two are written on two others and the last lets
// go on a fourth. Each writer gets a copy of its own first, the reader sees
// the old bytes throughout, whichever of them made the block.
TEST(SharedPixels, WritersOnTwoThreadsCopyWhileAReaderKeepsTheOldBytes) {
    for (int round = 0; round < 8; ++round) {
        SCOPED_TRACE(round);
        TBitmap bitmaps[4];
        TBitmap& made = bitmaps[round % 4];
        made.NewImage(kWidth, kHeight, TPixelFormat::pf32bit);
        WriteRows(made, 1);
        for (TBitmap& b : bitmaps)
            if (&b != &made) b.AssignShared(made);
        TBitmap& reader = bitmaps[0];
        bool readerSaw = false;
        AllAtOnce({[&] { readerSaw = RowsAre(reader, 1); },
                   [&] { WriteRows(bitmaps[1], 50); },
                   [&] { WriteRows(bitmaps[2], 90); },
                   [&] { bitmaps[3].ReleaseImage(); }});
        EXPECT_TRUE(readerSaw);
        EXPECT_TRUE(RowsAre(reader, 1));
        EXPECT_TRUE(RowsAre(bitmaps[1], 50));
        EXPECT_TRUE(RowsAre(bitmaps[2], 90));
        const uint8_t* blocks[3] = {std::as_const(reader).ScanLine(0), std::as_const(bitmaps[1]).ScanLine(0),
                                    std::as_const(bitmaps[2]).ScanLine(0)};
        EXPECT_NE(blocks[0], blocks[1]);
        EXPECT_NE(blocks[0], blocks[2]);
        EXPECT_NE(blocks[1], blocks[2]);
    }
}

// Shares taken from one bitmap on several threads, each then written on its
// own thread: the bitmap shared keeps its bytes.
TEST(SharedPixels, SharesTakenAndWrittenOnEveryThread) {
    TBitmap source;
    source.NewImage(kWidth, kHeight, TPixelFormat::pf32bit);
    WriteRows(source, 3);
    const int threads = std::max(2, par::AvailableCpus());
    std::vector<TBitmap> copies(static_cast<size_t>(threads));
    std::vector<std::function<void()>> jobs;
    for (int t = 0; t < threads; ++t)
        jobs.push_back([&, t] {
            TBitmap& copy = copies[static_cast<size_t>(t)];
            copy.AssignShared(source);
            copy.ScanLine(t % kHeight)[0] = static_cast<uint8_t>(200 + t);
        });
    AllAtOnce(jobs);
    EXPECT_TRUE(RowsAre(source, 3));
    for (int t = 0; t < threads; ++t) {
        const TBitmap& copy = copies[static_cast<size_t>(t)];
        EXPECT_EQ(copy.ScanLine(t % kHeight)[0], static_cast<uint8_t>(200 + t)) << t;
        EXPECT_EQ(copy.ScanLine(t % kHeight)[1], static_cast<uint8_t>(3 + t % kHeight)) << t;
    }
}

// Blocks taken and handed back on several threads while the pool's thread
// gives the idle ones back (each at once: an idle life of 0): a block holds
// what its owner wrote until the owner lets it go, a zeroed one starts
// zero, and in the end every idle block has gone back.
TEST(PixelPool, BlocksComeAndGoWhileThePoolsThreadGivesIdleOnesBack) {
    const auto life = pixmem::IdleLife();
    pixmem::SetIdleLife(std::chrono::milliseconds(0));
    const int threads = std::max(2, par::AvailableCpus());
    std::atomic<int> running{threads}, wrong{0};
    std::vector<std::function<void()>> jobs;
    for (int t = 0; t < threads; ++t)
        jobs.push_back([&, t] {
            for (int i = 0; i < 24; ++i) {
                const size_t bytes = (size_t(1 + (t + i) % 3) << 20) + size_t(t) * 4096;
                const bool zeroed = i % 2 == 0;
                TPixelBuffer block = TPixelBuffer::Allocate(bytes, zeroed);
                uint8_t* p = block.data();
                const auto mark = static_cast<uint8_t>(t * 31 + i);
                for (size_t at = 0; at < bytes; at += 4096) {
                    if (zeroed && p[at] != 0) ++wrong;
                    p[at] = mark;
                }
                p[bytes - 1] = mark;
                for (size_t at = 0; at < bytes; at += 4096)
                    if (p[at] != mark) ++wrong;
                if (p[bytes - 1] != mark) ++wrong;
            }
            --running;
        });
    jobs.push_back([&] {
        while (running.load() > 0) {
            pixmem::AwaitIdleCheck();
            std::this_thread::yield();
        }
    });
    AllAtOnce(jobs);
    EXPECT_EQ(wrong.load(), 0);
    pixmem::AwaitIdleCheck();
    EXPECT_EQ(pixmem::IdleBytes(), 0u);
    pixmem::SetIdleLife(life);
}
