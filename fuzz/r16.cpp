// libFuzzer target: one raw .r16 grid read as heights, with or without a given size.
#include "check.h"
#include "r16_input.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const R16Input in = split_r16(data, size);
    const std::string name = "fuzz.r16";
    HeightGrid g;
    const Status st = read_r16(in.file, in.n, name, g, in.w, in.h, fuzz_cap);
    check_heights(st, name, g);
    if (!st.ok) return 0;
    FUZZ_CHECK(in.n == 2ULL * g.w * g.h);
    if (in.w > 0 && in.h > 0) FUZZ_CHECK(g.w == in.w && g.h == in.h);
    else FUZZ_CHECK(g.w == g.h);
    return 0;
}
