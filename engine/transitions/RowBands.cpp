#include "engine/transitions/RowBands.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

namespace lumora {

namespace {

constexpr int kMaxThreads = 4;

int DefaultThreads() {
    unsigned n = std::thread::hardware_concurrency();
    return std::clamp(static_cast<int>(n), 1, kMaxThreads);
}

std::atomic<int> g_threads{0}; // 0: the default

// The pool keeps its workers asleep between jobs. A job's bands are claimed through one counter
// that also carries the job's number, so a worker that wakes late can never claim a band of a
// later job with the body of an earlier one.
class TBandPool {
public:
    ~TBandPool() {
        {
            std::lock_guard lock(mutex_);
            stop_ = true;
        }
        wake_.notify_all();
        for (auto& t : workers_) t.join();
    }

    // False when the pool is busy with another job: the caller then runs the rows itself.
    bool Run(int rows, int bandRows, int threads, const std::function<void(int, int)>& body) {
        // A body that asks for bands of its own runs them itself (the pool is taken by its caller).
        if (t_inBand) return false;
        std::unique_lock busy(busy_, std::try_to_lock);
        if (!busy.owns_lock()) return false;
        EnsureWorkers(threads - 1);
        int bands = (rows + bandRows - 1) / bandRows;
        uint32_t job;
        {
            std::lock_guard lock(mutex_);
            job = ++job_;
            body_ = &body;
            rows_ = rows;
            bandRows_ = bandRows;
            bands_ = bands;
            finished_.store(0, std::memory_order_relaxed);
            next_.store(uint64_t(job) << 32, std::memory_order_release);
            wanted_ = threads - 1;
        }
        wake_.notify_all();
        t_inBand = true;
        Work(job, body, rows, bandRows, bands);
        t_inBand = false;
        std::unique_lock lock(mutex_);
        done_.wait(lock, [&] { return finished_.load(std::memory_order_acquire) == bands; });
        body_ = nullptr;
        return true;
    }

private:
    static thread_local bool t_inBand; // on a worker, or on a caller running bands

    void EnsureWorkers(int n) {
        while (static_cast<int>(workers_.size()) < n) {
            int index = static_cast<int>(workers_.size());
            workers_.emplace_back([this, index] { WorkerLoop(index); });
        }
    }

    // Claims and runs bands of the job until none is left.
    void Work(uint32_t job, const std::function<void(int, int)>& body, int rows, int bandRows, int bands) {
        for (;;) {
            uint64_t v = next_.load(std::memory_order_acquire);
            int band;
            do {
                if (uint32_t(v >> 32) != job) return;
                band = static_cast<int>(v & 0xFFFFFFFFu);
                if (band >= bands) return;
            } while (!next_.compare_exchange_weak(v, v + 1, std::memory_order_acq_rel));
            int first = band * bandRows;
            body(first, std::min(rows, first + bandRows));
            if (finished_.fetch_add(1, std::memory_order_acq_rel) + 1 == bands) {
                std::lock_guard lock(mutex_);
                done_.notify_all();
            }
        }
    }

    void WorkerLoop(int index) {
        t_inBand = true;
        uint32_t seen = 0;
        std::unique_lock lock(mutex_);
        for (;;) {
            wake_.wait(lock, [&] { return stop_ || (job_ != seen && body_ != nullptr); });
            if (stop_) return;
            seen = job_;
            // Workers beyond the job's thread count sit it out.
            if (index >= wanted_) continue;
            const std::function<void(int, int)>* body = body_;
            int rows = rows_, bandRows = bandRows_, bands = bands_;
            lock.unlock();
            Work(seen, *body, rows, bandRows, bands);
            lock.lock();
        }
    }

    std::mutex busy_;
    std::mutex mutex_;
    std::condition_variable wake_, done_;
    std::vector<std::thread> workers_;
    bool stop_ = false;
    uint32_t job_ = 0;
    const std::function<void(int, int)>* body_ = nullptr;
    int rows_ = 0, bandRows_ = 0, bands_ = 0, wanted_ = 0;
    std::atomic<uint64_t> next_{0};
    std::atomic<int> finished_{0};
};

thread_local bool TBandPool::t_inBand = false;

TBandPool& Pool() {
    static TBandPool pool;
    return pool;
}

} // namespace

void SetRowBandThreads(int n) { g_threads.store(std::clamp(n, 0, kMaxThreads)); }

int RowBandThreads() {
    int n = g_threads.load();
    return n > 0 ? n : DefaultThreads();
}

void ForRowBands(int rows, const std::function<void(int, int)>& body, int minRows) {
    if (rows <= 0) return;
    minRows = std::max(1, minRows);
    int threads = RowBandThreads();
    if (threads <= 1 || rows < 2 * minRows) {
        body(0, rows);
        return;
    }
    // More bands than threads, so that a thread the system holds back delays only a small band.
    int bandRows = std::max(minRows, (rows + threads * 4 - 1) / (threads * 4));
    if (!Pool().Run(rows, bandRows, threads, body)) body(0, rows);
}

} // namespace lumora
