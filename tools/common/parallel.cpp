// Row-band parallelism for the tools: bands handed out in order to a few worker threads.
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
