// Row-band parallelism for the tools: every row is computed on its own, so results never depend on the thread count.
#pragma once

#include <functional>

// Calls rows(y0, y1) over consecutive bands that together cover 0 … n-1, on `threads` threads
// (0: one per core). The calling thread waits, calling tick(rows done so far) now and then.
void parallel_rows(int n, const std::function<void(int y0, int y1)> &rows, int threads = 0,
                   const std::function<void(int done)> &tick = {});
