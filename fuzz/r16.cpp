// libFuzzer target: one raw .r16 grid read as heights, with or without a given size.
#include "fuzz/check.h"
#include "fuzz/r16_input.h"

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    gdal_setup();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const R16Input in = split_r16(data, size);
    const std::string name = "/vsimem/fuzz.r16";
    fuzz_file(name, in.file, in.n);
    const Status st = fuzz_read(name, in.w, in.h);
    if (st.ok) {
        // The size given is the one used; without one, only a square is accepted.
        int w = in.w, h = in.h;
        FUZZ_CHECK(r16_size(static_cast<long long>(in.n), name, w, h).ok);
        FUZZ_CHECK(in.n == 2ULL * static_cast<unsigned>(w) * static_cast<unsigned>(h));
        if (in.w <= 0 || in.h <= 0) FUZZ_CHECK(w == h);
    }
    VSIUnlink(name.c_str());
    return 0;
}
