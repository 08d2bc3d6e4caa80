// Worker threads that fail together, the row bands and numbered jobs handed out to them, and a thread of its own.
#include "common/parallel.h"

#include <algorithm>
#include <atomic>
#include <exception>
#include <mutex>
#include <thread>
#include <vector>

int core_count() {
    static const int cores = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
    return cores;
}

void run_threads(int threads, const std::function<void(int thread)> &work, const std::function<void()> &stop) {
    std::mutex lock;
    std::exception_ptr first;
    auto guarded = [&](int t) {
        try {
            work(t);
        } catch (...) {
            {
                std::lock_guard<std::mutex> hold(lock);
                if (!first) first = std::current_exception();
            }
            if (stop) stop();
        }
    };
    std::vector<std::thread> pool;
    try {
        for (int t = 1; t < threads; ++t) pool.emplace_back(guarded, t);
    } catch (...) {
        {
            std::lock_guard<std::mutex> hold(lock);
            first = std::current_exception();
        }
        if (stop) stop();
    }
    if (!first) guarded(0);
    for (std::thread &t : pool) t.join();
    if (first) std::rethrow_exception(first);
}

void parallel_rows(int n, const std::function<void(int y0, int y1)> &rows, int threads,
                   const std::function<void(int done)> &tick) {
    if (n <= 0) return;
    if (threads <= 0) threads = core_count();
    // Small bands keep the threads evenly loaded when some rows cost more than others.
    const int band = std::max(1, std::min(16, n / (8 * threads)));
    std::atomic<int> next{0}, done{0};
    // Only the calling thread reports progress, after each of its own bands.
    run_threads(threads, [&](int t) {
        for (int y0; (y0 = next.fetch_add(band)) < n;) {
            const int y1 = std::min(n, y0 + band);
            rows(y0, y1);
            const int d = done.fetch_add(y1 - y0) + (y1 - y0);
            if (t == 0 && tick) tick(d);
        }
    }, [&] { next = n; });
    if (tick) tick(n);
}

void parallel_each(size_t n, const std::function<void(size_t i)> &each, int threads) {
    parallel_rows(static_cast<int>(n), [&](int i0, int i1) {
        for (int i = i0; i < i1; ++i) each(static_cast<size_t>(i));
    }, threads);
}

bool for_bands(int bands, int threads, const std::function<bool(int thread, int band)> &fn,
               const std::function<void(double)> &progress) {
    std::atomic<int> next{0}, done{0};
    std::atomic<bool> ok{true};
    run_threads(threads, [&](int t) {
        for (int b; ok && (b = next++) < bands;) {
            if (!fn(t, b)) ok = false;
            const int d = ++done;
            if (t == 0 && progress) progress(static_cast<double>(d) / bands);
        }
    }, [&] { ok = false; });
    return ok;
}

std::shared_future<void> start_thread(std::function<void()> work) {
    return std::async(std::launch::async, std::move(work)).share();
}
