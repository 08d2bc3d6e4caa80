// libFuzzer target: one in-memory file of a format import reads through GDAL, read as heights.
#include "fuzz/check.h"
#include "fuzz/gdal_input.h"

#include <cpl_conv.h>
#include <cpl_vsi.h>

#include <vector>

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    gdal_setup();
    // No directory listings: an in-memory file has no companions to look for.
    CPLSetConfigOption("GDAL_DISABLE_READDIR_ON_OPEN", "EMPTY_DIR");
    GDALSetCacheMax64(16 << 20);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const GdalInput in = split_gdal(data, size);
    // Formats known by their size (SRTM tiles) get the rest of the file as zeros.
    std::vector<uint8_t> padded(in.file, in.file + in.n);
    if (in.format->exact_size && padded.size() <= in.format->exact_size) padded.resize(in.format->exact_size);
    const std::string name = std::string("/vsimem/fuzz/") + in.format->name;
    fuzz_file(name, padded.data(), padded.size());
    fuzz_read(name);
    VSIUnlink(name.c_str());
    return 0;
}
