// The floor under any import of a tile set: GDAL decoding each file once with its own readers, two at a time.
#include <gdal.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <dirent.h>
#include <string>
#include <thread>
#include <vector>

namespace {

// The .tif files in `dir`, sorted.
std::vector<std::string> tiffs_in(const std::string &dir) {
    std::vector<std::string> out;
    if (DIR *d = opendir(dir.c_str())) {
        while (const dirent *e = readdir(d)) {
            const std::string n = e->d_name;
            if (n.size() > 4 && n.compare(n.size() - 4, 4, ".tif") == 0) out.push_back(dir + "/" + n);
        }
        closedir(d);
    }
    std::sort(out.begin(), out.end());
    return out;
}

// Opens `path` and reads its first band whole in its own data type, as a reader that wants every sample must.
bool decode(const std::string &path, std::vector<unsigned char> &buf) {
    GDALDatasetH ds = GDALOpenEx(path.c_str(), GDAL_OF_RASTER | GDAL_OF_READONLY, nullptr, nullptr, nullptr);
    if (!ds) return false;
    GDALRasterBandH b = GDALGetRasterBand(ds, 1);
    const int w = GDALGetRasterXSize(ds), h = GDALGetRasterYSize(ds);
    const GDALDataType type = GDALGetRasterDataType(b);
    buf.resize(static_cast<size_t>(w) * h * GDALGetDataTypeSizeBytes(type));
    const bool ok = GDALRasterIO(b, GF_Read, 0, 0, w, h, buf.data(), w, h, type, 0, 0) == CE_None;
    GDALClose(ds);
    return ok;
}

}  // namespace

int main(int argc, char **argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: bench_decodefloor THREADS DIR\n  decodes every DIR/*.tif once on THREADS threads\n");
        return 1;
    }
    GDALAllRegister();
    const int threads = std::max(1, std::atoi(argv[1]));
    const std::vector<std::string> files = tiffs_in(argv[2]);
    if (files.empty()) {
        std::fprintf(stderr, "bench_decodefloor: %s: no .tif files\n", argv[2]);
        return 1;
    }
    std::atomic<size_t> next{0};
    std::atomic<bool> ok{true};
    auto work = [&] {
        std::vector<unsigned char> buf;
        for (size_t i; ok && (i = next++) < files.size();)
            if (!decode(files[i], buf)) ok = false;
    };
    std::vector<std::thread> pool;
    for (int t = 1; t < threads; ++t) pool.emplace_back(work);
    work();
    for (std::thread &t : pool) t.join();
    if (!ok) {
        std::fprintf(stderr, "bench_decodefloor: %s: a file could not be decoded\n", argv[2]);
        return 1;
    }
    std::printf("%zu files decoded\n", files.size());
    return 0;
}
