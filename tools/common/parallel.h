// Parallel loops for the tools: threads that fail together, row bands, numbered jobs, a thread of its own, the core count.
#pragma once

#include <functional>
#include <future>

// The machine's cores, asked once (at least 1).
int core_count();

// Runs work(0) on the calling thread and work(1) ... work(threads-1) on threads of their own, and
// waits for all of them. An exception in any (an allocation past a memory limit, a thread that
// cannot start) calls `stop`, so that the others stop waiting on it, and is thrown again on the
// calling thread once every thread has ended.
void run_threads(int threads, const std::function<void(int thread)> &work, const std::function<void()> &stop = {});

// Calls rows(y0, y1) over consecutive bands that together cover 0 … n-1, on `threads` threads
// (0: one per core). The calling thread waits, calling tick(rows done so far) now and then. Every
// row is computed on its own, so results never depend on the thread count.
void parallel_rows(int n, const std::function<void(int y0, int y1)> &rows, int threads = 0,
                   const std::function<void(int done)> &tick = {});

// Calls each(i) for i = 0 ... n-1 on `threads` threads (0: one per core), a few at a time: work on
// thousands of files, one system call or a few each.
void parallel_each(size_t n, const std::function<void(size_t i)> &each, int threads = 0);

// Runs fn(thread, band) for bands 0 ... bands-1 on `threads` threads, each band once; stops handing
// out bands after a false. `progress` gets the fraction of bands done, on the calling thread.
bool for_bands(int bands, int threads, const std::function<bool(int thread, int band)> &fn,
               const std::function<void(double)> &progress = {});

// Runs `work` on a thread of its own at once. get() on the result waits for it to end, and throws
// what it threw; a thread that cannot start throws here.
std::shared_future<void> start_thread(std::function<void()> work);
