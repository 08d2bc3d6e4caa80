// Writes the GDAL import benchmark's inputs: a tiled GeoTIFF of multi-scale terrain with voids, any size.
#include "world/noise.h"

#include <cpl_conv.h>
#include <gdal_priv.h>
#include <ogr_spatialref.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <future>
#include <malloc.h>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr int tile = 256;  // tile side, and the rows computed and written at a time
constexpr float nodata_float = -9999.0f;
constexpr int16_t nodata_int16 = -32768;
constexpr float void_level = 0.5f;  // of the void field (-1 … 1): about 2 % of the cells

// The generator's own lattice hash.
uint32_t mix(uint32_t h) { return lattice_mix(h); }

// Value noise on a square lattice of spacing `s`, one octave: lattice values from a hash, blended
// quintically. The lattice is shifted per octave so that no two octaves share their seams.
struct Octave {
    int s;
    float amp;
    uint32_t seed;
    int ox, oy;
    std::vector<float> blend;  // quintic weight at each offset 0 … s-1 within a cell
    Octave(int s_, float amp_, uint32_t seed_) : s(s_), amp(amp_), seed(seed_), blend(s_) {
        ox = static_cast<int>(mix(seed ^ 0x51u) % static_cast<uint32_t>(s));
        oy = static_cast<int>(mix(seed ^ 0xa7u) % static_cast<uint32_t>(s));
        for (int k = 0; k < s; ++k) {
            const float t = static_cast<float>(k) / static_cast<float>(s);
            blend[k] = t * t * t * (t * (t * 6 - 15) + 10);
        }
    }
    float lattice(int i, int j) const {
        const uint32_t h = mix(seed ^ static_cast<uint32_t>(i) * 0x9e3779b1u ^ static_cast<uint32_t>(j) * 0x85ebca77u);
        return static_cast<float>(h >> 8) * (2.0f / 16777216.0f) - 1.0f;
    }
    // A thread's lattice rows j and j + 1 of this octave, kept while its rows stay in one cell row.
    struct Rows {
        int j = -2;  // none yet (rows start at 0)
        std::vector<float> l0, l1, r;
    };
    void lattice_row(int j, int cells, std::vector<float> &l) const {
        l.resize(cells);
        for (int i = 0; i < cells; ++i) l[i] = lattice(i, j);
    }
    // Adds this octave's row y to acc[0 … w-1]. Cell by cell, so the inner loop is one multiply-add
    // over the cell's precomputed weights, which vectorises.
    void add_row(int y, int w, float *acc, Rows &c) const {
        const int yy = y + oy, j = yy / s, cells = (w + ox) / s + 2;
        if (j != c.j) {
            if (j == c.j + 1)
                std::swap(c.l0, c.l1);
            else
                lattice_row(j, cells, c.l0);
            lattice_row(j + 1, cells, c.l1);
            c.j = j;
        }
        const float wy = blend[yy - j * s];
        c.r.resize(cells);
        for (int i = 0; i < cells; ++i) c.r[i] = amp * (c.l0[i] + wy * (c.l1[i] - c.l0[i]));
        const float *b = blend.data();
        for (int i = 0; i + 1 < cells; ++i) {
            const int x0 = i * s - ox, k0 = std::max(0, -x0), k1 = std::min(s, w - x0);
            const float a = c.r[i], d = c.r[i + 1] - c.r[i];
            float *out = acc + x0;
            for (int k = k0; k < k1; ++k) out[k] += a + d * b[k];
        }
    }
};

// The relief's look does not depend on the size asked: the coarsest octave spans an eighth to a quarter
// of the larger side, the finest 4 cells, so a tiny test file has coasts and ranges as a large one does.
struct Terrain {
    int w;
    std::vector<Octave> relief, voids;
    float norm = 0, void_norm = 0;
    Terrain(int w_, int h) : w(w_) {
        int s0 = 4;
        while (s0 * 8 <= std::max(w, h)) s0 *= 2;
        uint32_t seed = 1;
        for (int s = s0; s >= 4; s /= 2) {
            const float amp = std::pow(static_cast<float>(s) / static_cast<float>(s0), 0.85f);
            relief.emplace_back(s, amp, mix(seed++));
            norm += amp;
        }
        // Voids come in blobs some tens of cells across, as a survey's do whatever the extent, gathered
        // where a coarse field is high (the steep or dry ground that radar misses).
        for (const auto &[s, amp] : {std::pair{s0 / 2, 1.0f}, {64, 0.6f}, {16, 0.3f}}) {
            voids.emplace_back(std::clamp(s, 4, s0), amp, mix(seed++));
            void_norm += amp;
        }
    }
    // A thread's scratch: the lattice rows of every octave, and the void field's row.
    struct Scratch {
        std::vector<Octave::Rows> relief, voids;
        std::vector<float> v;
    };
    Scratch scratch() const { return {std::vector<Octave::Rows>(relief.size()), std::vector<Octave::Rows>(voids.size()), {}}; }
    // Row y in metres, `nodata` for a void. Sea floor falls linearly, land rises as t^1.5 to ranges
    // 4 to 8 km high. Voids are blobs on land, as in radar surveys of steep or dry ground.
    void row(int y, float *out, float nodata, Scratch &sc) const {
        std::fill(out, out + w, 0.0f);
        for (size_t o = 0; o < relief.size(); ++o) relief[o].add_row(y, w, out, sc.relief[o]);
        sc.v.assign(w, 0.0f);
        for (size_t o = 0; o < voids.size(); ++o) voids[o].add_row(y, w, sc.v.data(), sc.voids[o]);
        const float k = 1.0f / (0.3f * norm), kv = 1.0f / void_norm;
        const float *v = sc.v.data();
        for (int x = 0; x < w; ++x) {  // branch-free, so that it vectorises
            const float t = out[x] * k, land = std::max(t, 0.0f);
            const float m = 2200.0f * land * std::sqrt(land) + 3500.0f * std::min(t, 0.0f);
            out[x] = t > 0.02f && v[x] * kv > void_level ? nodata : m;
        }
    }
};

struct Options {
    std::string out, compress = "NONE";
    int w = 0, h = 0;
    bool int16 = false, global = false;
};

bool parse(int argc, char **argv, Options &o) {
    if (argc < 6 || argc > 7) return false;
    o.out = argv[1];
    char *end = nullptr;
    o.w = static_cast<int>(std::strtol(argv[2], &end, 10));
    if (*end || o.w < 1 || o.w > 1000000) return false;
    o.h = static_cast<int>(std::strtol(argv[3], &end, 10));
    if (*end || o.h < 1 || o.h > 1000000) return false;
    const std::string type = argv[4], area = argv[5];
    if (type != "float32" && type != "int16") return false;
    if (area != "region" && area != "global") return false;
    o.int16 = type == "int16";
    o.global = area == "global";
    if (argc == 7) o.compress = argv[6];
    return true;
}

// Writes the file and prints its size, type, reference system and share of voids.
bool write(const Options &o, const std::string &path) {
    GDALDriver *drv = GetGDALDriverManager()->GetDriverByName("GTiff");
    if (!drv) return false;
    const std::string bx = "BLOCKXSIZE=" + std::to_string(tile), by = "BLOCKYSIZE=" + std::to_string(tile),
                      compress = "COMPRESS=" + o.compress;
    const char *opts[] = {"TILED=YES", bx.c_str(), by.c_str(), compress.c_str(), "BIGTIFF=IF_SAFER", nullptr};
    GDALDataset *ds = drv->Create(path.c_str(), o.w, o.h, 1, o.int16 ? GDT_Int16 : GDT_Float32, const_cast<char **>(opts));
    if (!ds) return false;
    // A whole-world grid in degrees, or a 25 m grid in UTM zone 32N (the Alps and their plains).
    double gt[6] = {300000, 25, 0, 5400000, 0, -25};
    if (o.global) {
        const double gx[6] = {-180, 360.0 / o.w, 0, 90, 0, -180.0 / o.h};
        std::copy(gx, gx + 6, gt);
    }
    OGRSpatialReference srs;
    srs.importFromEPSG(o.global ? 4326 : 32632);
    GDALRasterBand *band = ds->GetRasterBand(1);
    bool ok = ds->SetGeoTransform(gt) == CE_None && ds->SetSpatialRef(&srs) == CE_None &&
              band->SetNoDataValue(o.int16 ? nodata_int16 : nodata_float) == CE_None;

    // A band of tile rows at a time, computed by two threads (each half its rows) while the band
    // before it is written, so that neither waits for the other for long.
    const Terrain t(o.w, o.h);
    struct Band {
        std::vector<float> f;
        std::vector<int16_t> s;
        long long voids[2] = {0, 0};  // counted by each of the two threads
    } bands[2];
    auto compute = [&](Band &b, int y0) {
        const int n = std::min(tile, o.h - y0);
        b.f.resize(static_cast<size_t>(n) * o.w);
        b.s.resize(o.int16 ? b.f.size() : 0);
        auto work = [&](int y1, int y2, long long &voids) {
            Terrain::Scratch sc = t.scratch();
            voids = 0;
            for (int y = y1; y < y2; ++y) {
                float *row = b.f.data() + static_cast<size_t>(y) * o.w;
                const float nodata = o.int16 ? nodata_int16 : nodata_float;
                t.row(y0 + y, row, nodata, sc);
                voids += std::count(row, row + o.w, nodata);
                if (!o.int16) continue;
                int16_t *dst = b.s.data() + static_cast<size_t>(y) * o.w;
                for (int x = 0; x < o.w; ++x)  // truncated: a metre either way is no matter here, and it vectorises
                    dst[x] = static_cast<int16_t>(static_cast<int>(std::max(-32768.0f, std::min(row[x], 32767.0f))));
            }
        };
        std::thread other(work, n / 2, n, std::ref(b.voids[1]));
        work(0, n / 2, b.voids[0]);
        other.join();
    };
    long long voids = 0;
    std::future<void> next = std::async(std::launch::async, compute, std::ref(bands[0]), 0);
    for (int i = 0, y0 = 0; ok && y0 < o.h; ++i, y0 += tile) {
        next.get();
        Band &b = bands[i % 2];
        if (y0 + tile < o.h) next = std::async(std::launch::async, compute, std::ref(bands[1 - i % 2]), y0 + tile);
        const int n = std::min(tile, o.h - y0);
        voids += b.voids[0] + b.voids[1];
        ok = band->RasterIO(GF_Write, 0, y0, o.w, n, o.int16 ? static_cast<void *>(b.s.data()) : b.f.data(), o.w, n,
                            o.int16 ? GDT_Int16 : GDT_Float32, 0, 0, nullptr) == CE_None;
    }
    if (next.valid()) next.wait();
    GDALClose(ds);  // flushes the cache and writes the directory
    if (!ok || CPLGetLastErrorType() >= CE_Failure) return false;
    std::printf("%d x %d %s, EPSG:%d, %.2f %% NoData\n", o.w, o.h, o.int16 ? "int16" : "float32", o.global ? 4326 : 32632,
                100.0 * static_cast<double>(voids) / (static_cast<double>(o.w) * o.h));
    return true;
}

}  // namespace

int main(int argc, char **argv) {
    Options o;
    if (!parse(argc, argv, o)) {
        std::fprintf(stderr,
                     "usage: bench_terraintif OUT.tif WIDTH HEIGHT float32|int16 region|global [COMPRESS]\n"
                     "  region: EPSG:32632, 25 m cells; global: EPSG:4326, the whole world\n"
                     "  COMPRESS: a GeoTIFF compression (NONE, LZW, ZSTD ...), NONE by default\n");
        return 1;
    }
    GDALAllRegister();
    mallopt(M_MMAP_THRESHOLD, 64 << 20);  // GDAL's tile buffers come and go: reuse them, unfaulted
    GDALSetCacheMax64(64 << 20);  // the band written is flushed tile by tile: memory stays bounded
    const std::string tmp = o.out + ".tmp";
    if (!write(o, tmp) || std::rename(tmp.c_str(), o.out.c_str()) != 0) {
        std::remove(tmp.c_str());
        std::fprintf(stderr, "bench_terraintif: %s: cannot write\n", o.out.c_str());
        return 1;
    }
    return 0;
}
