// What the readers must leave behind on any input, checked after every fuzz run: a failed check is a finding.
#pragma once

#include "heightmap.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>

// Keeps every input to a few milliseconds (a 1201 x 1201 SRTM tile still fits) and far below
// libFuzzer's memory limit, where the readers' own cap would let a small file claim 1.3 GB.
constexpr uint64_t fuzz_cap = 1ULL << 21;

[[noreturn]] inline void fuzz_fail(const char *what, const char *file, int line) {
    std::fprintf(stderr, "%s:%d: check failed: %s\n", file, line, what);
    std::abort();
}
#define FUZZ_CHECK(c) ((c) ? (void)0 : fuzz_fail(#c, __FILE__, __LINE__))

// A failure names the file and says why; a success is a whole grid of finite heights and 0/1
// void flags, voids at height 0, no larger than the cap.
inline void check_heights(const Status &st, const std::string &name, const HeightGrid &g) {
    if (!st.ok) {
        FUZZ_CHECK(st.why.size() > name.size() + 2 && st.why.compare(0, name.size() + 2, name + ": ") == 0);
        return;
    }
    FUZZ_CHECK(g.w > 0 && g.h > 0 && static_cast<uint64_t>(g.w) * g.h <= fuzz_cap);
    const size_t n = static_cast<size_t>(g.w) * g.h;
    FUZZ_CHECK(g.z.size() == n && g.voids.size() == n);
    for (size_t i = 0; i < n; ++i) {
        FUZZ_CHECK(g.voids[i] <= 1);
        FUZZ_CHECK(g.voids[i] ? g.z[i] == 0.0f : std::isfinite(g.z[i]));
    }
    if (g.has_range) FUZZ_CHECK(g.range_lo < g.range_hi);
}
