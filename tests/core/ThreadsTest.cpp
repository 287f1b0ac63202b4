#include <gtest/gtest.h>

#include <atomic>
#include <memory>

#include "platform/core/Graphics.h"
#include "platform/core/Threads.h"

namespace {

class TStepThread : public TThread {
public:
    explicit TStepThread(bool createSuspended = true) : TThread(createSuspended) {}
    std::function<void(TStepThread&)> body;
    using TThread::Synchronize;

protected:
    void Execute() override {
        if (body) body(*this);
    }
};

}  // namespace

TEST(List, IndexChecksAndRemoval) {
    TList list;
    int a = 0, b = 0, c = 0;
    EXPECT_EQ(list.Add(&a), 0);
    list.Add(&b);
    list.Insert(0, &c);
    EXPECT_EQ(list.IndexOf(&a), 1);
    EXPECT_EQ(list.Remove(&a), 1);
    EXPECT_EQ(list.Remove(&a), -1);
    EXPECT_EQ(list.Extract(&b), &b);
    EXPECT_EQ(list.Count(), 1);
    EXPECT_EQ(list.First(), &c);
    EXPECT_THROW(list.Items(1), EListError);
    EXPECT_THROW(list.Delete(-1), EListError);
    EXPECT_THROW(list.Insert(3, &a), EListError);
    list.Clear();
    EXPECT_THROW(list.Last(), EListError);
}

TEST(ThreadList, LockIsRecursiveAndAddIgnoresDuplicates) {
    TThreadList list;
    int a = 0;
    TList& inner = list.LockList();
    list.Add(&a);  // the same thread takes the lock again
    list.Add(&a);
    EXPECT_EQ(inner.Count(), 1);
    list.UnlockList();
    list.Remove(&a);
    EXPECT_EQ(list.LockList().Count(), 0);
    list.UnlockList();
}

TEST(Thread, SynchronizeRunsOnTheMainThreadAndPassesExceptionsBack) {
    ASSERT_TRUE(IsMainThread());
    int hookCalls = 0;
    auto previous = SetWakeMainThreadHook([&] { ++hookCalls; });
    TStepThread t;
    std::atomic<bool> ranOnMain{false}, caught{false};
    t.body = [&](TStepThread& self) {
        self.Synchronize([&] { ranOnMain = IsMainThread(); });
        try {
            self.Synchronize([] { throw EInvalidGraphic("in step"); });
        } catch (const EInvalidGraphic& e) {
            caught = e.Message() == "in step";
        }
    };
    bool terminatedOnMain = false;
    t.OnTerminate = [&](TObject*) { terminatedOnMain = IsMainThread(); };
    t.Resume();
    t.WaitFor();  // runs the queued steps meanwhile
    EXPECT_TRUE(ranOnMain);
    EXPECT_TRUE(caught);
    EXPECT_TRUE(terminatedOnMain);
    EXPECT_TRUE(t.Finished());
    EXPECT_EQ(hookCalls, 3);
    SetWakeMainThreadHook(previous);
    EXPECT_FALSE(CheckSynchronize());
}

TEST(Thread, TerminateAndFatalException) {
    TStepThread t;
    t.body = [](TStepThread& self) {
        while (!self.Terminated()) Sleep(1);
        throw EAbort("done");
    };
    t.Start();
    t.Terminate();
    t.WaitFor();
    ASSERT_TRUE(t.FatalException());
    EXPECT_THROW(std::rethrow_exception(t.FatalException()), EAbort);
    EXPECT_THROW(TStepThread{false}, EThread);
}

TEST(Thread, FreeOnTerminateDeletesItself) {
    static std::atomic<int> alive{0};
    struct TCounted : TStepThread {
        TCounted() { ++alive; }
        ~TCounted() override { --alive; }
    };
    auto* t = new TCounted;
    TEvent done;
    t->FreeOnTerminate = true;
    t->body = [&](TStepThread&) { done.SetEvent(); };
    t->Resume();
    EXPECT_EQ(done.WaitFor(5000), TEvent::wrSignaled);
    // The thread deletes itself after signalling; a loaded machine may take
    // a while to schedule it.
    for (int i = 0; i < 10000 && alive.load() != 0; ++i) Sleep(2);
    EXPECT_EQ(alive.load(), 0);
}

TEST(Event, AutoResetReleasesOneWaitAndTimesOut) {
    TEvent e;
    EXPECT_EQ(e.WaitFor(0), TEvent::wrTimeout);
    e.SetEvent();
    EXPECT_EQ(e.WaitFor(0), TEvent::wrSignaled);
    EXPECT_EQ(e.WaitFor(5), TEvent::wrTimeout);
    TEvent manual(true, true);
    EXPECT_EQ(manual.WaitFor(0), TEvent::wrSignaled);
    EXPECT_EQ(manual.WaitFor(0), TEvent::wrSignaled);
    manual.ResetEvent();
    EXPECT_EQ(manual.WaitFor(0), TEvent::wrTimeout);
}

TEST(Timing, TimeGetTimeMoves) {
    const uint32_t start = timeGetTime();
    Sleep(15);
    const uint32_t elapsed = timeGetTime() - start;  // unsigned: survives the wrap
    // A busy machine may sleep far longer; only the lower bound is sure.
    EXPECT_GE(elapsed, 14u);
    EXPECT_LT(elapsed, 0x80000000u);
}

TEST(Thread, AStepThatWaitsForAnotherThreadRunsTheStepsQueuedBehindIt) {
    std::atomic<int> queued{0};
    auto previous = SetWakeMainThreadHook([&queued] { ++queued; });
    bool secondRan = false, sawSecond = false;
    TStepThread first, second;
    first.body = [&](TStepThread& self) {
        self.Synchronize([&] {
            // As a picture's destructor does when it stops a painter.
            const uint32_t start = timeGetTime();
            while (!secondRan && timeGetTime() - start < 2000) CheckSynchronize(1);
            sawSecond = secondRan;
        });
    };
    second.body = [&](TStepThread& self) { self.Synchronize([&] { secondRan = true; }); };
    first.Resume();
    while (queued.load() < 1) Sleep(1);
    second.Resume();
    while (queued.load() < 2) Sleep(1);
    CheckSynchronize();
    first.WaitFor();
    second.WaitFor();
    EXPECT_TRUE(sawSecond);
    SetWakeMainThreadHook(previous);
}

TEST(Canvas, LiveCanvasesAreKnownByHandleAndSerial) {
    auto a = std::make_unique<TBitmap>();
    HDC dc = a->Canvas().Handle();
    const uint64_t serial = LiveCanvasSerial(dc);
    EXPECT_EQ(GetObjectType(dc), OBJ_DC);
    EXPECT_NE(serial, 0u);
    a.reset();
    EXPECT_EQ(GetObjectType(dc), 0u);
    EXPECT_EQ(LiveCanvasSerial(dc), 0u);
    TBitmap b;
    EXPECT_NE(LiveCanvasSerial(b.Canvas().Handle()), serial);  // even at the same address
}
