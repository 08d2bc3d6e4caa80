// Writes the import benchmark's input: a 4096 × 4096 16-bit greyscale PNG of smooth, hilly heights.
#include <png.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace {

constexpr int side = 4096;

// Heights on 0 … 65535: six octaves of crossed waves, each the product of a wave along x and one
// along y (tabulated once), plus a little deterministic grain so the file compresses like a survey.
struct relief {
    std::vector<double> vx, vy;  // octave o's wave at column or row i: [o * side + i]
    relief() : vx(6 * side), vy(6 * side) {
        double a = 1, f = 2 * M_PI / side;
        for (int o = 0; o < 6; ++o, a *= 0.5, f *= 2.1)
            for (int i = 0; i < side; ++i) {
                vx[o * side + i] = a * std::sin(f * i + o);
                vy[o * side + i] = std::cos(f * 0.8 * i + 2 * o);
            }
    }
    uint16_t height(int x, int y) const {
        double h = 0;
        for (int o = 0; o < 6; ++o) h += vx[o * side + x] * vy[o * side + y];
        uint32_t g = static_cast<uint32_t>(x) * 73856093u ^ static_cast<uint32_t>(y) * 19349663u;
        g = (g ^ (g >> 13)) * 0x5bd1e995u;
        const double v = 32768 + 16000 * h + static_cast<double>((g >> 16) & 63) - 32;
        return static_cast<uint16_t>(std::lround(std::fmin(65535.0, std::fmax(0.0, v))));
    }
};

bool write_png(const std::string &tmp) {
    FILE *f = std::fopen(tmp.c_str(), "wb");
    if (!f) return false;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    std::vector<png_byte> row(2 * side);
    const relief r;
    volatile bool ok = false;  // set after the last libpng call that could jump back
    if (info && !setjmp(png_jmpbuf(png))) {
        png_init_io(png, f);
        png_set_IHDR(png, info, side, side, 16, PNG_COLOR_TYPE_GRAY, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                     PNG_FILTER_TYPE_DEFAULT);
        png_set_compression_level(png, 1);  // the input is made on every run: quick beats small
        png_write_info(png, info);
        for (int y = 0; y < side; ++y) {
            for (int x = 0; x < side; ++x) {
                const uint16_t h = r.height(x, y);
                row[2 * x] = static_cast<png_byte>(h >> 8), row[2 * x + 1] = static_cast<png_byte>(h);
            }
            png_write_row(png, row.data());
        }
        png_write_end(png, nullptr);
        ok = true;
    }
    png_destroy_write_struct(&png, &info);
    return std::fclose(f) == 0 && ok;
}

}  // namespace

int main(int argc, char **argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: bench_heightpng OUT.png\n");
        return 1;
    }
    const std::string out = argv[1], tmp = out + ".tmp";
    if (!write_png(tmp) || std::rename(tmp.c_str(), out.c_str()) != 0) {
        std::remove(tmp.c_str());
        std::fprintf(stderr, "bench_heightpng: %s: cannot write\n", out.c_str());
        return 1;
    }
    return 0;
}
