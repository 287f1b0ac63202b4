#include "platform/core/Parallel.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cmath>
#include <exception>
#include <fstream>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <sched.h>

#include "platform/core/Progress.h"

namespace par {
namespace {

// One ForRows call as the workers see it. Blocks are handed out by an
// atomic counter; each block's rows are fixed by its index alone.
struct Job {
    const std::function<void(int32_t, int32_t)>* body = nullptr;
    int32_t count = 0;
    int32_t blocks = 0;
    std::atomic<int32_t> next{0};
    std::atomic<int32_t> rowsDone{0};
    std::atomic<bool> cancelled{false};
    // Odd while the caller is in its progress sink. A block taken then waits
    // for the report to end, so that once a sink has raised no block starts.
    std::atomic<uint32_t> reportEpoch{0};
    int32_t blocksFinished = 0;          // guarded by Pool::mutex
    int32_t failedBlock = -1;            // lowest failing block, guarded
    std::exception_ptr error;            // its exception, guarded

    int32_t Begin(int32_t block) const {
        return static_cast<int32_t>(static_cast<int64_t>(block) * count / blocks);
    }
};

thread_local bool insideWorker = false;

// Rows finished: to the progress sink, or, without one, a pulse, so that
// the windows may paint during long work that counts no rows.
void Report(const std::function<void(int32_t)>& onRows, int32_t rows) {
    if (onRows)
        onRows(rows);
    else
        progress::Pulse();
}

class Pool {
public:
    ~Pool() { Stop(); }

    int Threads() {
        std::lock_guard lock(configMutex_);
        return threads_;
    }

    void SetThreads(int count) {
        if (count < 1) count = 1;
        std::lock_guard jobLock(jobMutex_);  // never while a job runs
        std::lock_guard lock(configMutex_);
        if (count == threads_) return;
        threads_ = count;
        StopLocked();
    }

    // Runs the job with the caller's help; false when the pool is busy with
    // another caller's job (the caller then runs the rows itself).
    bool Run(Job& job, const std::function<void(int32_t)>& onRows) {
        std::unique_lock jobLock(jobMutex_, std::try_to_lock);
        if (!jobLock.owns_lock()) return false;
        EnsureWorkers();
        {
            std::lock_guard lock(mutex_);
            job_ = &job;
            ++generation_;
        }
        wake_.notify_all();

        int32_t reported = 0;
        auto report = [&] {
            const int32_t done = job.rowsDone.load(std::memory_order_acquire);
            if (done > reported && !job.cancelled.load()) {
                const int32_t n = done - reported;
                reported = done;
                // The sink (or the pulse) may paint the windows, and a paint
                // may want rows of its own: those run on this thread, as in
                // a worker.
                const bool wasInside = insideWorker;
                insideWorker = true;
                {
                    // A sink holds back the blocks not yet started while it
                    // runs; a paint it asks for waits until they go on again.
                    progress::TPulseLater later;
                    const bool sink = static_cast<bool>(onRows);
                    if (sink) job.reportEpoch.fetch_add(1);
                    try {
                        Report(onRows, n);
                    } catch (...) {
                        // A progress sink may abort: stop handing out blocks.
                        std::lock_guard lock(mutex_);
                        job.cancelled = true;
                        if (job.failedBlock < 0 || job.failedBlock > job.blocks) {
                            job.failedBlock = job.blocks;
                            job.error = std::current_exception();
                        }
                    }
                    if (sink) {
                        job.reportEpoch.fetch_add(1);
                        job.reportEpoch.notify_all();
                    }
                }
                insideWorker = wasInside;
            }
        };

        insideWorker = true;
        while (RunOneBlock(job)) report();
        insideWorker = false;

        {
            std::unique_lock lock(mutex_);
            while (job.blocksFinished < job.blocks || busyWorkers_ > 0) {
                lock.unlock();
                report();
                lock.lock();
                if (job.blocksFinished < job.blocks || busyWorkers_ > 0) done_.wait(lock);
            }
            job_ = nullptr;
        }
        report();
        return true;
    }

private:
    // Takes the next block of the job and runs it; false when none is left.
    bool RunOneBlock(Job& job) {
        const int32_t block = job.next.fetch_add(1, std::memory_order_relaxed);
        if (block >= job.blocks) return false;
        const int32_t begin = job.Begin(block);
        const int32_t end = job.Begin(block + 1);
        for (uint32_t epoch = job.reportEpoch.load(); epoch & 1; epoch = job.reportEpoch.load())
            job.reportEpoch.wait(epoch);
        std::exception_ptr error;
        if (!job.cancelled.load()) {
            try {
                (*job.body)(begin, end);
            } catch (...) {
                error = std::current_exception();
            }
        }
        job.rowsDone.fetch_add(end - begin, std::memory_order_release);
        {
            std::lock_guard lock(mutex_);
            if (error) {
                job.cancelled = true;
                if (job.failedBlock < 0 || block < job.failedBlock) {
                    job.failedBlock = block;
                    job.error = error;
                }
            }
            ++job.blocksFinished;
        }
        done_.notify_one();  // only the caller waits on it
        return true;
    }

    void WorkerLoop() {
        insideWorker = true;
        uint64_t seen = 0;
        std::unique_lock lock(mutex_);
        for (;;) {
            wake_.wait(lock, [&] { return stop_ || (job_ != nullptr && generation_ != seen); });
            if (stop_) return;
            seen = generation_;
            Job* job = job_;
            ++busyWorkers_;
            lock.unlock();
            while (RunOneBlock(*job)) {
            }
            lock.lock();
            --busyWorkers_;
            done_.notify_one();
        }
    }

    void EnsureWorkers() {
        std::lock_guard lock(configMutex_);
        if (!workers_.empty() || threads_ <= 1) return;
        stop_ = false;
        for (int i = 1; i < threads_; ++i) workers_.emplace_back([this] { WorkerLoop(); });
    }

    void Stop() {
        std::lock_guard lock(configMutex_);
        StopLocked();
    }

    void StopLocked() {
        {
            std::lock_guard lock(mutex_);
            stop_ = true;
        }
        wake_.notify_all();
        for (std::thread& t : workers_) t.join();
        workers_.clear();
        std::lock_guard lock(mutex_);
        stop_ = false;
    }

    std::mutex jobMutex_;     // one job at a time
    std::mutex configMutex_;  // threads_ and workers_
    std::mutex mutex_;        // job_, generation_, busyWorkers_, job bookkeeping
    std::condition_variable wake_;
    std::condition_variable done_;
    std::vector<std::thread> workers_;
    int threads_ = AvailableCpus();
    Job* job_ = nullptr;
    uint64_t generation_ = 0;
    int busyWorkers_ = 0;
    bool stop_ = false;
};

Pool& ThePool() {
    static Pool pool;
    return pool;
}

}  // namespace

namespace {

// The CPU time the process's control group may use, in whole CPUs (rounded
// up), or 0 when no group up to the root sets a quota.
int CgroupCpuLimit() {
    std::ifstream self("/proc/self/cgroup");
    std::string line, path;
    while (std::getline(self, line))
        if (line.rfind("0::", 0) == 0) path = line.substr(3);
    if (path.empty()) return 0;
    int limit = 0;
    for (;;) {
        std::ifstream max("/sys/fs/cgroup" + path + "/cpu.max");
        std::string quota;
        double period = 0;
        if (max >> quota >> period && quota != "max" && period > 0) {
            const int cpus = std::max(1, static_cast<int>(std::ceil(std::stod(quota) / period)));
            limit = limit == 0 ? cpus : std::min(limit, cpus);
        }
        if (path.empty() || path == "/") break;
        const size_t slash = path.rfind('/');
        path = slash == std::string::npos ? std::string() : path.substr(0, slash);
    }
    return limit;
}

}  // namespace

int AvailableCpus() {
    int cpus = static_cast<int>(std::thread::hardware_concurrency());
    cpu_set_t set;
    if (sched_getaffinity(0, sizeof(set), &set) == 0) cpus = CPU_COUNT(&set);
    try {
        const int limit = CgroupCpuLimit();
        if (limit > 0) cpus = std::min(cpus, limit);
    } catch (const std::exception&) {
        // An unreadable quota leaves the affinity mask's count.
    }
    return std::max(1, cpus);
}

int ThreadCount() { return ThePool().Threads(); }

void SetThreadCount(int count) { ThePool().SetThreads(count); }

void ForRows(int32_t count, const std::function<void(int32_t begin, int32_t end)>& body,
             const std::function<void(int32_t rows)>& onRows) {
    if (count <= 0) return;
    const int threads = ThreadCount();
    // About four blocks per thread: small enough to balance uneven rows,
    // large enough that handing them out costs nothing.
    const int64_t wanted = static_cast<int64_t>(threads) * 4;
    Job job;
    job.body = &body;
    job.count = count;
    job.blocks = static_cast<int32_t>(std::min<int64_t>(count, wanted));

    if (threads > 1 && job.blocks > 1 && !insideWorker && ThePool().Run(job, onRows)) {
        if (job.error) std::rethrow_exception(job.error);
        return;
    }
    // Single thread, a nested call or a busy pool: the same blocks in order.
    for (int32_t block = 0; block < job.blocks; ++block) {
        const int32_t begin = job.Begin(block);
        const int32_t end = job.Begin(block + 1);
        body(begin, end);
        if (onRows || !insideWorker) Report(onRows, end - begin);
    }
}

}  // namespace par
