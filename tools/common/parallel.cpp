// Row bands and numbered jobs handed out in order to a few worker threads.
#include "parallel.h"

#include <algorithm>
#include <atomic>
#include <thread>
#include <vector>

void parallel_rows(int n, const std::function<void(int y0, int y1)> &rows, int threads,
                   const std::function<void(int done)> &tick) {
    if (n <= 0) return;
    if (threads <= 0) threads = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
    // Small bands keep the threads evenly loaded when some rows cost more than others.
    const int band = std::max(1, std::min(16, n / (8 * threads)));
    std::atomic<int> next{0}, done{0};
    // Only the calling thread reports progress, after each of its own bands.
    auto work = [&](bool report) {
        for (int y0; (y0 = next.fetch_add(band)) < n;) {
            const int y1 = std::min(n, y0 + band);
            rows(y0, y1);
            const int d = done.fetch_add(y1 - y0) + (y1 - y0);
            if (report && tick) tick(d);
        }
    };
    std::vector<std::thread> pool;
    for (int t = 1; t < threads; ++t) pool.emplace_back(work, false);
    work(true);
    for (std::thread &t : pool) t.join();
    if (tick) tick(n);
}

bool for_bands(int bands, int threads, const std::function<bool(int thread, int band)> &fn,
               const std::function<void(double)> &progress) {
    std::atomic<int> next{0}, done{0};
    std::atomic<bool> ok{true};
    auto work = [&](int t) {
        for (int b; ok && (b = next++) < bands;) {
            if (!fn(t, b)) ok = false;
            const int d = ++done;
            if (t == 0 && progress) progress(static_cast<double>(d) / bands);
        }
    };
    std::vector<std::thread> pool;
    for (int t = 1; t < threads; ++t) pool.emplace_back(work, t);
    work(0);
    for (std::thread &t : pool) t.join();
    return ok;
}
