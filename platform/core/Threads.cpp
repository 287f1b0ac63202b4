#include "platform/core/Threads.h"

#include <chrono>
#include <deque>

namespace {

const std::thread::id mainThreadId = std::this_thread::get_id();

// One queued step: the worker waits on done until the main thread ran it.
struct SyncStep {
    const std::function<void()>* step = nullptr;
    std::exception_ptr error;
    bool done = false;
};

struct SyncQueue {
    std::mutex mutex;
    std::condition_variable queued;
    std::condition_variable ran;
    std::deque<SyncStep*> steps;
    std::function<void()> wakeHook;
    TMessagePump pump;
    std::function<void(std::exception_ptr)> exceptionHandler;
};

SyncQueue& Queue() {
    static SyncQueue* queue = new SyncQueue;  // lives as long as any thread may use it
    return *queue;
}

}  // namespace

bool IsMainThread() { return std::this_thread::get_id() == mainThreadId; }

std::function<void()> SetWakeMainThreadHook(std::function<void()> hook) {
    SyncQueue& q = Queue();
    std::lock_guard lock(q.mutex);
    std::swap(q.wakeHook, hook);
    return hook;
}

bool CheckSynchronize(int timeoutMs) {
    if (!IsMainThread()) throw EThread("CheckSynchronize called from a thread other than the main thread");
    SyncQueue& q = Queue();
    std::unique_lock lock(q.mutex);
    if (q.steps.empty() && timeoutMs > 0)
        q.queued.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return !q.steps.empty(); });
    // Steps queued later wait for the next call, so a steady stream of
    // them cannot keep the caller here.
    size_t count = q.steps.size();
    if (count == 0) return false;
    while (count-- > 0 && !q.steps.empty()) {
        SyncStep* s = q.steps.front();
        q.steps.pop_front();
        lock.unlock();
        try {
            (*s->step)();
        } catch (...) {
            s->error = std::current_exception();
        }
        lock.lock();
        s->done = true;
        q.ran.notify_all();
    }
    return true;
}

TMessagePump SetMessagePump(TMessagePump pump) {
    SyncQueue& q = Queue();
    std::lock_guard lock(q.mutex);
    std::swap(q.pump, pump);
    return pump;
}

bool ProcessPendingMessages() {
    std::function<bool()> process;
    {
        SyncQueue& q = Queue();
        std::lock_guard lock(q.mutex);
        process = q.pump.processPending;
    }
    return process && process();
}

void PostQuitMessage() {
    std::function<void()> post;
    {
        SyncQueue& q = Queue();
        std::lock_guard lock(q.mutex);
        post = q.pump.postQuit;
    }
    if (post) post();
}

std::function<void(std::exception_ptr)> SetApplicationExceptionHandler(std::function<void(std::exception_ptr)> handler) {
    SyncQueue& q = Queue();
    std::lock_guard lock(q.mutex);
    std::swap(q.exceptionHandler, handler);
    return handler;
}

void HandleApplicationException(std::exception_ptr error) {
    if (!error) return;
    std::function<void(std::exception_ptr)> handler;
    {
        SyncQueue& q = Queue();
        std::lock_guard lock(q.mutex);
        handler = q.exceptionHandler;
    }
    if (handler) handler(error);
}

void TThread::Synchronize(TThread*, const std::function<void()>& step) {
    if (IsMainThread()) {
        step();
        return;
    }
    SyncQueue& q = Queue();
    SyncStep s;
    s.step = &step;
    std::function<void()> hook;
    {
        std::lock_guard lock(q.mutex);
        q.steps.push_back(&s);
        hook = q.wakeHook;
    }
    q.queued.notify_all();
    if (hook) hook();
    std::unique_lock lock(q.mutex);
    q.ran.wait(lock, [&] { return s.done; });
    if (s.error) std::rethrow_exception(s.error);
}

void TThread::Synchronize(const std::function<void()>& step) { Synchronize(this, step); }

TThread::TThread(bool createSuspended) {
    // Starting here would run Execute before the derived object exists.
    if (!createSuspended) throw EThread("A thread is created suspended and started with Resume");
}

TThread::~TThread() {
    if (thread_.get_id() == std::this_thread::get_id()) {
        thread_.detach();  // a FreeOnTerminate thread deleting itself
        return;
    }
    if (thread_.joinable()) {
        Terminate();
        WaitFor();
        thread_.join();
    }
}

void TThread::Resume() {
    std::lock_guard lock(mutex_);
    if (started_) return;
    started_ = true;
    thread_ = std::thread([this] { Run(); });
}

void TThread::Run() {
    { std::lock_guard lock(mutex_); }  // Resume has stored thread_
    try {
        Execute();
    } catch (...) {
        fatal_ = std::current_exception();
    }
    if (OnTerminate) {
        try {
            Synchronize([this] { OnTerminate(this); });
        } catch (...) {
            if (!fatal_) fatal_ = std::current_exception();
        }
    }
    const bool freeSelf = FreeOnTerminate;
    {
        std::lock_guard lock(mutex_);
        finished_ = true;
    }
    finishedSignal_.notify_all();
    if (freeSelf) delete this;
}

int32_t TThread::WaitFor() {
    std::unique_lock lock(mutex_);
    if (!started_) return ReturnValue;
    while (!finished_) {
        if (IsMainThread()) {
            // The thread may be waiting for the main thread to run a step.
            lock.unlock();
            CheckSynchronize(1);
            lock.lock();
        } else {
            finishedSignal_.wait(lock);
        }
    }
    return ReturnValue;
}

void TEvent::SetEvent() {
    {
        std::lock_guard lock(mutex_);
        signalled_ = true;
    }
    if (manual_) {
        cv_.notify_all();
    } else {
        cv_.notify_one();
    }
}

void TEvent::ResetEvent() {
    std::lock_guard lock(mutex_);
    signalled_ = false;
}

TEvent::TWaitResult TEvent::WaitFor(uint32_t timeoutMs) {
    std::unique_lock lock(mutex_);
    const auto ready = [&] { return signalled_; };
    if (timeoutMs == INFINITE) {
        cv_.wait(lock, ready);
    } else if (!cv_.wait_for(lock, std::chrono::milliseconds(timeoutMs), ready)) {
        return wrTimeout;
    }
    if (!manual_) signalled_ = false;
    return wrSignaled;
}

void Sleep(uint32_t ms) {
    if (ms == 0) {
        std::this_thread::yield();
    } else {
        std::this_thread::sleep_for(std::chrono::milliseconds(ms));
    }
}

uint32_t timeGetTime() {
    constexpr uint32_t kFirstReading = 0xFFFFFFFFu - 30000u;
    static const auto start = std::chrono::steady_clock::now();
    const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
    return kFirstReading + static_cast<uint32_t>(static_cast<uint64_t>(elapsed.count()));
}
