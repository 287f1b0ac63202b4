// Worker threads that hand their drawing to the window thread, events and
// timing: what animation painters need of the platform.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <exception>
#include <functional>
#include <mutex>
#include <thread>

#include "Classes.h"

// The thread that started the program (the window thread).
bool IsMainThread();

// Runs the steps other threads have queued through TThread::Synchronize, on
// the calling thread, which must be the main thread: those queued when it
// is called, one at a time, so that a step which itself waits for workers
// can run the steps queued behind it. Waits up to timeoutMs for a first
// step. Returns whether it ran something.
bool CheckSynchronize(int timeoutMs = 0);
// Called (on the queuing thread) whenever a step is queued, so that the
// window loop can run CheckSynchronize soon. Returns the previous hook.
std::function<void()> SetWakeMainThreadHook(std::function<void()> hook);

// The window loop as code that runs inside it pumps it. processPending runs
// the pending window events and returns whether the program was asked to
// quit meanwhile; postQuit asks again, so that the loop that owns the quit
// still sees it. The form layer installs both; without them there is
// nothing to pump.
struct TMessagePump {
    std::function<bool()> processPending;
    std::function<void()> postQuit;
};
// Returns the previous pump.
TMessagePump SetMessagePump(TMessagePump pump);
// Runs the pending window events; true when a quit was asked meanwhile.
bool ProcessPendingMessages();
void PostQuitMessage();

// The application's handler for exceptions that reach the window thread
// from somewhere no caller waits for them (a worker's run). The form layer
// installs one that reports them once the window loop is idle again;
// without one they are dropped. Returns the previous handler.
std::function<void(std::exception_ptr)> SetApplicationExceptionHandler(std::function<void(std::exception_ptr)> handler);
void HandleApplicationException(std::exception_ptr error);

enum class TThreadPriority { tpIdle, tpLowest, tpLower, tpNormal, tpHigher, tpHighest, tpTimeCritical };

// Construction never starts the thread (the derived part is not built yet):
// pass createSuspended = true and call Resume or Start afterwards.
class TThread : public TObject {
public:
    explicit TThread(bool createSuspended = true);
    // Terminates and waits for a started thread (not for a FreeOnTerminate
    // one, which deletes itself).
    ~TThread() override;
    TThread(const TThread&) = delete;
    TThread& operator=(const TThread&) = delete;

    void Resume();  // starts a suspended thread; later calls do nothing
    void Start() { Resume(); }
    // Any thread may ask; the thread's own run reads it between steps.
    void Terminate() { terminated_.store(true); }
    bool Terminated() const { return terminated_.load(); }
    bool Finished() const { return finished_.load(); }
    // Not started yet.
    bool Suspended() const { return !started_.load(); }
    // Waits until Execute has returned (running queued steps meanwhile when
    // called on the main thread). Returns ReturnValue.
    int32_t WaitFor();
    // Runs step on the main thread while this thread waits; an exception
    // raised by step is raised here again. On the main thread: runs at once.
    void Synchronize(const std::function<void()>& step);
    static void Synchronize(TThread* thread, const std::function<void()>& step);
    // The exception that ended Execute, if one did.
    std::exception_ptr FatalException() const { return fatal_; }
    const char* ClassName() const override { return "TThread"; }

    // Set before the thread starts. With FreeOnTerminate the object deletes
    // itself on its own thread once Execute and OnTerminate are done.
    bool FreeOnTerminate = false;
    // Runs on the main thread (through Synchronize) after Execute.
    TNotifyEvent OnTerminate;
    // Accepted and ignored on this platform.
    TThreadPriority Priority = TThreadPriority::tpNormal;
    int32_t ReturnValue = 0;

protected:
    virtual void Execute() = 0;

private:
    void Run();

    std::thread thread_;
    std::mutex mutex_;
    std::condition_variable finishedSignal_;
    std::atomic<bool> started_{false};
    std::atomic<bool> terminated_{false};
    std::atomic<bool> finished_{false};
    std::exception_ptr fatal_;
};

// An unnamed event: auto-reset (one waiter released per SetEvent) or
// manual-reset, initially unsignalled unless asked.
class TEvent : public TObject {
public:
    enum TWaitResult { wrSignaled, wrTimeout };
    static constexpr uint32_t INFINITE = 0xFFFFFFFFu;

    explicit TEvent(bool manualReset = false, bool initialState = false)
        : manual_(manualReset), signalled_(initialState) {}
    void SetEvent();
    void ResetEvent();
    TWaitResult WaitFor(uint32_t timeoutMs);
    const char* ClassName() const override { return "TEvent"; }

private:
    std::mutex mutex_;
    std::condition_variable cv_;
    bool manual_;
    bool signalled_;
};

// Gives up the processor for ms milliseconds (0: yields once).
void Sleep(uint32_t ms);
// Milliseconds since an arbitrary start, wrapping around at 2^32. The count
// starts 30 seconds short of the wrap, so that every run longer than that
// goes through it: differences of two readings must be taken unsigned.
uint32_t timeGetTime();
