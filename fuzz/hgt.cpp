// libFuzzer target: one SRTM .hgt tile read as heights.
#include "check.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const std::string name = "fuzz.hgt";
    (void)detect_format(data, size, name);  // mvx import's first look at every file
    HeightGrid g;
    const Status st = read_hgt(data, size, name, g, fuzz_cap);
    check_heights(st, name, g);
    if (st.ok) FUZZ_CHECK(g.w == g.h && size == 2ULL * g.w * g.h);
    return 0;
}
