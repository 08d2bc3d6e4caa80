// What an import's read must leave behind on any input, checked after every fuzz run: a failed check is a finding.
#pragma once

#include "import/import.h"
#include "import/raster_open.h"

#include <cpl_vsi.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>

// Keeps every input to a few milliseconds: reads of more samples are refused, as the product
// refuses more than its own limit.
constexpr double fuzz_samples = 1 << 22;
constexpr int fuzz_w = 24, fuzz_h = 16;  // the grid the targets read into

[[noreturn]] inline void fuzz_fail(const char *what, const char *file, int line) {
    std::fprintf(stderr, "%s:%d: check failed: %s\n", file, line, what);
    std::abort();
}
#define FUZZ_CHECK(c) ((c) ? (void)0 : fuzz_fail(#c, __FILE__, __LINE__))

// Reads `name` as import does into the fuzz grid. A failure names the file in one line; a
// success is a whole field of finite heights and 0/1 void flags, voids at height 0.
inline Status fuzz_read(const std::string &name, int size_w = 0, int size_h = 0) {
    ImportOptions o;
    o.heights = {name};
    o.size_w = size_w, o.size_h = size_h;
    o.max_samples = fuzz_samples;
    Heights h;
    std::vector<std::string> notes;
    const Status st = read_import(o, fuzz_w, fuzz_h, h, notes);
    if (!st.ok) {
        FUZZ_CHECK(st.why.compare(0, name.size() + 2, name + ": ") == 0);
        FUZZ_CHECK(st.why.find('\n') == std::string::npos);
        return st;
    }
    const Field &f = h.field;
    FUZZ_CHECK(f.w == fuzz_w && f.h == fuzz_h && f.z.size() == size_t(fuzz_w) * fuzz_h && f.voids.size() == f.z.size());
    for (size_t i = 0; i < f.z.size(); ++i) {
        FUZZ_CHECK(f.voids[i] <= 1);
        FUZZ_CHECK(f.voids[i] ? f.z[i] == 0.0f : std::isfinite(f.z[i]));
    }
    const Placement &p = h.place;
    FUZZ_CHECK(p.w >= 1 && p.h >= 1 && p.x0 >= 0 && p.y0 >= 0 && p.x0 + p.w <= fuzz_w && p.y0 + p.h <= fuzz_h);
    return st;
}

// Puts bytes in an in-memory file for GDAL (the owner's name), replacing what was there.
inline void fuzz_file(const std::string &name, const uint8_t *data, size_t size) {
    VSILFILE *f = VSIFileFromMemBuffer(name.c_str(), const_cast<uint8_t *>(data), size, FALSE);
    if (f) VSIFCloseL(f);
}
