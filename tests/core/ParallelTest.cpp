#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

#include <sched.h>

#include "platform/core/Parallel.h"
#include "platform/core/SysUtils.h"

namespace {

// Restores the thread count a test changed.
struct ThreadCountGuard {
    int saved = par::ThreadCount();
    ~ThreadCountGuard() { par::SetThreadCount(saved); }
};

std::set<std::pair<int32_t, int32_t>> Blocks(int32_t count) {
    std::mutex m;
    std::set<std::pair<int32_t, int32_t>> blocks;
    par::ForRows(count, [&](int32_t b, int32_t e) {
        std::lock_guard lock(m);
        blocks.emplace(b, e);
    });
    return blocks;
}

}  // namespace

TEST(ForRows, BlocksAreContiguousAndCoverEveryRowOnce) {
    ThreadCountGuard guard;
    for (int threads : {1, 3, 8}) {
        par::SetThreadCount(threads);
        for (int32_t count : {1, 2, 7, 31, 1000, 4097}) {
            const auto blocks = Blocks(count);
            int32_t next = 0;
            for (const auto& [b, e] : blocks) {
                EXPECT_EQ(b, next);
                EXPECT_LT(b, e);
                next = e;
            }
            EXPECT_EQ(next, count);
            EXPECT_EQ(blocks.size(), static_cast<size_t>(std::min<int32_t>(count, threads * 4)));
            EXPECT_EQ(blocks, Blocks(count)) << "blocks must not depend on timing";
        }
    }
}

TEST(ForRows, ProgressTotalsTheRowsOnTheCallingThread) {
    ThreadCountGuard guard;
    par::SetThreadCount(4);
    const auto caller = std::this_thread::get_id();
    std::atomic<int64_t> work{0};
    int32_t reported = 0;
    bool otherThread = false;
    par::ForRows(
        10007,
        [&](int32_t b, int32_t e) {
            for (int32_t r = b; r < e; ++r) work += r;
        },
        [&](int32_t rows) {
            EXPECT_GT(rows, 0);
            reported += rows;
            otherThread |= std::this_thread::get_id() != caller;
        });
    EXPECT_EQ(reported, 10007);
    EXPECT_FALSE(otherThread);
    EXPECT_EQ(work.load(), int64_t(10006) * 10007 / 2);
}

TEST(ForRows, OneThreadRunsInline) {
    ThreadCountGuard guard;
    par::SetThreadCount(1);
    EXPECT_EQ(par::ThreadCount(), 1);
    const auto caller = std::this_thread::get_id();
    par::ForRows(50, [&](int32_t, int32_t) { EXPECT_EQ(std::this_thread::get_id(), caller); });
    par::SetThreadCount(0);
    EXPECT_EQ(par::ThreadCount(), 1);
}

TEST(ForRows, ExceptionReachesTheCallerAfterAllBlocks) {
    ThreadCountGuard guard;
    for (int threads : {1, 6}) {
        par::SetThreadCount(threads);
        std::atomic<int> running{0};
        try {
            par::ForRows(100, [&](int32_t b, int32_t) {
                ++running;
                if (b >= 50) throw EInvalidGraphic("bad row");
                --running;
            });
            FAIL();
        } catch (const EInvalidGraphic& e) {
            EXPECT_EQ(e.Message(), "bad row");
        }
        // Nothing of the call is still running once it has returned.
        const int afterwards = running.load();
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        EXPECT_EQ(running.load(), afterwards);
    }
}

TEST(ForRows, AbortFromProgressStopsTheWork) {
    ThreadCountGuard guard;
    par::SetThreadCount(4);
    std::atomic<int> blocks{0};
    std::atomic<bool> reported{false};
    const std::thread::id caller = std::this_thread::get_id();
    // A worker's block holds its thread until the caller's first report,
    // which raises. Each of the three workers can have started one block by
    // then and the caller one; no block may start after the report, however
    // slowly the caller unwinds.
    auto body = [&](int32_t, int32_t) {
        ++blocks;
        if (std::this_thread::get_id() == caller) return;
        while (!reported) std::this_thread::yield();
    };
    EXPECT_THROW(par::ForRows(1600, body,
                              [&](int32_t) {
                                  reported = true;
                                  std::this_thread::sleep_for(std::chrono::milliseconds(20));
                                  throw EAbort("stop");
                              }),
                 EAbort);
    EXPECT_LE(blocks.load(), 4);
}

TEST(ForRows, DefaultThreadCountFollowsTheCpusTheProcessMayUse) {
    cpu_set_t saved;
    ASSERT_EQ(sched_getaffinity(0, sizeof(saved), &saved), 0);
    cpu_set_t one;
    CPU_ZERO(&one);
    for (int cpu = 0; cpu < CPU_SETSIZE; ++cpu)
        if (CPU_ISSET(cpu, &saved)) {
            CPU_SET(cpu, &one);
            break;
        }
    ASSERT_EQ(sched_setaffinity(0, sizeof(one), &one), 0);
    const int pinned = par::AvailableCpus();
    sched_setaffinity(0, sizeof(saved), &saved);
    EXPECT_EQ(pinned, 1);
    EXPECT_LE(par::AvailableCpus(), CPU_COUNT(&saved));
}

TEST(ForRows, NestedCallsAndEmptyRanges) {
    ThreadCountGuard guard;
    par::SetThreadCount(4);
    std::atomic<int64_t> cells{0};
    par::ForRows(20, [&](int32_t b, int32_t e) {
        for (int32_t r = b; r < e; ++r)
            par::ForRows(30, [&](int32_t b2, int32_t e2) { cells += e2 - b2; });
    });
    EXPECT_EQ(cells.load(), 600);
    bool called = false;
    par::ForRows(0, [&](int32_t, int32_t) { called = true; }, [&](int32_t) { called = true; });
    par::ForRows(-5, [&](int32_t, int32_t) { called = true; });
    EXPECT_FALSE(called);
}

TEST(ForRows, TwoCallersAtOnceBothFinish) {
    ThreadCountGuard guard;
    par::SetThreadCount(4);
    std::atomic<int64_t> a{0}, b{0};
    std::thread other([&] {
        for (int i = 0; i < 50; ++i) par::ForRows(300, [&](int32_t s, int32_t e) { a += e - s; });
    });
    for (int i = 0; i < 50; ++i) par::ForRows(300, [&](int32_t s, int32_t e) { b += e - s; });
    other.join();
    EXPECT_EQ(a.load(), 15000);
    EXPECT_EQ(b.load(), 15000);
}
