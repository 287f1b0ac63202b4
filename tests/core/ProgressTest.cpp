#include <gtest/gtest.h>

#include <mutex>
#include <thread>
#include <vector>

#include "platform/core/Parallel.h"
#include "platform/core/Progress.h"

namespace {

// Every position the bar was set to.
struct TRecordingBar : IProgressBar {
    std::vector<int32_t> shown;
    int32_t Position() const override { return shown.empty() ? 0 : shown.back(); }
    void SetPosition(int32_t position) override { shown.push_back(position); }
};

// Pulses and the threads they ran on.
std::mutex pulseMutex;
std::vector<std::thread::id> pulseThreads;
void CountPulse() {
    std::lock_guard lock(pulseMutex);
    pulseThreads.push_back(std::this_thread::get_id());
}
size_t Pulses() {
    std::lock_guard lock(pulseMutex);
    return pulseThreads.size();
}

}  // namespace

// Filters step and reset per pass; the bar only ever moves forward, by the
// share of the planned passes, and a pass that steps more rows than
// planned (or a plan short of passes) never takes it past its share.
TEST(RunProgress, TheBarMovesForwardThroughThePlannedPasses) {
    struct Case {
        int32_t from, to, passes;
        std::vector<int32_t> steps;  // 0 ends a pass
        std::vector<int32_t> shown;
    };
    const Case cases[] = {
        {0, 800, 2, {50, 100, 0, 50, 100, 0}, {200, 400, 600, 800}},
        {0, 800, 2, {80, 150, 0, 0, 300, 0}, {320, 400, 800}},  // pass too long, reset twice
        {200, 400, 4, {100, 0, 100, 0, 100, 0, 100, 0, 100, 0}, {250, 300, 350, 400}},
        {0, 800, 0, {30, 0, 30, 900, 0}, {30, 800}},  // no plan: the rows themselves
    };
    for (const Case& c : cases) {
        TRecordingBar bar;
        TRunProgress run(bar, c.from, c.to);
        if (c.passes > 0) run.Plan(c.passes, 100);
        for (int32_t step : c.steps) run.SetPosition(step);
        EXPECT_EQ(bar.shown, c.shown) << c.from << ".." << c.to;
        EXPECT_EQ(run.Position(), 0);
        run.Finish();
        EXPECT_EQ(bar.shown.back(), c.to);
    }
}

// Work that counts no rows still gives the windows their chances to paint,
// but only from the thread that asked for it.
TEST(RunProgress, RowsWithoutASinkPulseOnTheCallingThread) {
    const int saved = par::ThreadCount();
    progress::SetPulse(&CountPulse);
    for (int threads = 1; threads <= par::AvailableCpus(); ++threads) {
        par::SetThreadCount(threads);
        pulseThreads.clear();
        par::ForRows(400, [](int32_t, int32_t) {});
        EXPECT_GE(Pulses(), 1u) << threads;
        EXPECT_LE(Pulses(), size_t(threads) * 4) << threads;
        for (std::thread::id id : pulseThreads) EXPECT_EQ(id, std::this_thread::get_id()) << threads;
        pulseThreads.clear();
        par::ForRows(400, [](int32_t, int32_t) {}, [](int32_t) {});
        EXPECT_EQ(Pulses(), 0u) << "a sink decides itself";
    }
    progress::SetPulse(nullptr);
    pulseThreads.clear();
    par::ForRows(400, [](int32_t, int32_t) {});
    EXPECT_EQ(Pulses(), 0u);
    par::SetThreadCount(saved);
}
