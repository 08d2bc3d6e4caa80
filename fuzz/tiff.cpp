// libFuzzer target: one TIFF read as heights.
#include "check.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const std::string name = "fuzz.tif";
    HeightGrid g;
    check_heights(read_tiff(data, size, name, g, fuzz_cap), name, g);
    return 0;
}
