// Default world generator: warped continents, river-cut ridged mountains and slope-damped hills, coarse to fine.
//
// Each stage works on its own lattice in full-map cell coordinates:
//  A. every 16 cells over the whole map: domain warp, continents and "mountainness". The same lattice
//     fixes sea level and the height scale from quantiles, so they do not depend on the output size.
//  E. every 8 cells over the whole map: the terrain so far, drained and cut by its rivers.
//  B. every 4 cells over the output: mountains and hills down to wavelengths of about 20 cells, on A
//     and the river cuts interpolated; a raw height plus what the last stage needs to go on.
//  C. every output cell: B interpolated, plus the finest octaves, then the level range.
// Smooth layers are computed coarse and interpolated with C1 cubics (the hillshade sees derivatives),
// so only a few noise octaves are evaluated per output cell. Everything up to stage B depends only on
// the seed, never on the output's size, position or thread count.
#include "worldgen.h"
#include "worldgen_stages.h"

#include "format.h"
#include "noise.h"
#include "parallel.h"

#include <algorithm>
#include <cmath>
#include <queue>

namespace {

// ---- Tunables, in full-map cells and height levels ----

constexpr float step_a = 16, step_e = 8, step_b = 4;
constexpr float water_fraction = 0.35f;

constexpr float warp_wavelength = 1800, warp_amount = 300;
constexpr int warp_octaves = 3;
constexpr float continent_wavelength = 2400;
constexpr int continent_octaves_a = 5, continent_octaves_b = 2;  // the last two are coast detail
constexpr float mountain_mask_wavelength = 1500;
constexpr float ridge_wavelength = 640;
constexpr int ridge_octaves_b = 6, ridge_octaves_c = 2;
// Amplitudes of the ridge octaves: flatter than halving through the middle wavelengths, where
// mountain flanks get their slopes.
constexpr float ridge_amp[] = {1.0f, 0.8f, 0.62f, 0.45f, 0.3f, 0.18f, 0.1f, 0.055f};
static_assert(sizeof ridge_amp / sizeof ridge_amp[0] == ridge_octaves_b + ridge_octaves_c);
constexpr float ridge_levels = 200;  // raw height of a full mountain range
constexpr float ridge_floor = 0.22f;  // share of it by which mountain valleys sink below the land around
constexpr float ridge_warp_wavelength = 260, ridge_warp_amount = 40;
constexpr float hill_levels = 10;
constexpr float valley_wall_levels = 2.0f;    // steepest slope rivers leave (levels per cell) where they start
constexpr float river_concavity = 0.45f;      // river slope falls as the area drained to this power
constexpr float valley_spread_levels = 0.5f;  // how fast a valley's depth falls off sideways, levels per cell
constexpr float max_cut = 0.6f;               // largest share of a point's height that a valley takes away
constexpr float plain_cut = 0.35f;            // share of the full cut that plains get
constexpr float hill_wavelength = 420;
constexpr int hill_octaves_b = 5;

// Sum of the ridge octaves' amplitudes, which scales the ridges to about 0 … 1.
const float ridge_sum = [] {
    float s = 0;
    for (float a : ridge_amp) s += a;
    return s;
}();

// ---- Small helpers ----

uint64_t mix64(uint64_t z) {
    z += 0x9e3779b97f4a7c15ULL;
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
    return z ^ (z >> 31);
}

// How much of an octave of wavelength `wl` a lattice of spacing `s` can carry: none at the Nyquist
// limit, all from twice that, so coarser runs leave out what they cannot show instead of aliasing it.
float band(float wl, float s) { return std::clamp(wl / (2 * s) - 1, 0.0f, 1.0f); }

// Each octave is turned by an odd angle so the lattices of successive octaves never line up.
struct Turn {
    float c, s;
};
constexpr int max_octaves = 12;
static_assert(ridge_octaves_b + ridge_octaves_c <= max_octaves && continent_octaves_a + continent_octaves_b <= max_octaves);
struct Turns {
    Turn t[max_octaves];
    Turns() {
        for (int i = 0; i < max_octaves; ++i) {
            const double a = 0.6435 + 1.13 * i;
            t[i] = {static_cast<float>(std::cos(a)), static_cast<float>(std::sin(a))};
        }
    }
};
const Turns turns;

// One octave of noise, wavelength `wl` cells, at the n full-map points (u[k], v[k]): values and,
// when dx is given, derivatives per cell. Most of the generator's time is spent here, so there is
// also a version for processors with AVX2, chosen at run time; its 8-wide integer multiplies make
// it twice as fast, and without fused multiply-adds its results are the same to the bit.
__attribute__((target_clones("avx2", "default"))) void octave_row(const float *__restrict u, const float *__restrict v, int n, float wl, int i, uint32_t seed,
                float *__restrict val, float *__restrict dx = nullptr, float *__restrict dy = nullptr) {
    const float f = 1 / wl, c = turns.t[i].c * f, s = turns.t[i].s * f;
    seed += 0x632be5abu * static_cast<uint32_t>(i);
    if (!dx) {
        for (int k = 0; k < n; ++k) val[k] = gradient_noise(c * u[k] - s * v[k], s * u[k] + c * v[k], seed).v;
        return;
    }
    for (int k = 0; k < n; ++k) {
        const Noise m = gradient_noise(c * u[k] - s * v[k], s * u[k] + c * v[k], seed);
        val[k] = m.v;
        dx[k] = c * m.dx + s * m.dy;
        dy[k] = c * m.dy - s * m.dx;
    }
}

// Adds octaves first … first+count-1 of fractal noise (wavelengths halving from wl, amplitudes
// from 1) at the n points to sum, keeping what spacing `s` can carry.
void fbm_row(const float *u, const float *v, int n, float wl, int first, int count, uint32_t seed, float s,
             float *__restrict sum, float *__restrict tmp) {
    float amp = std::ldexp(1.0f, -first);
    wl = std::ldexp(wl, -first);
    for (int i = first; i < first + count; ++i, amp *= 0.5f, wl *= 0.5f) {
        const float b = band(wl, s) * amp;
        if (b <= 0) continue;
        octave_row(u, v, n, wl, i, seed, tmp);
        for (int k = 0; k < n; ++k) sum[k] += b * tmp[k];
    }
}

struct Seeds {
    uint32_t warp_x, warp_y, continent, mask, ridge, hill;
    explicit Seeds(uint64_t seed) {
        uint32_t *k[] = {&warp_x, &warp_y, &continent, &mask, &ridge, &hill};
        for (int i = 0; i < 6; ++i) *k[i] = static_cast<uint32_t>(mix64(seed * 6 + i) >> 32);
    }
};

// A lattice of points `sx` × `sy` cells apart, first point at (i0 sx, j0 sy), with `ch` channels per
// point.
struct Lattice {
    int i0 = 0, j0 = 0, nx = 0, ny = 0, ch = 0;
    float sx = 1, sy = 1;
    std::vector<float> v;
    float *at(int i, int j) { return &v[(static_cast<size_t>(j) * nx + i) * ch]; }
    const float *at(int i, int j) const { return &v[(static_cast<size_t>(j) * nx + i) * ch]; }
};

// A lattice covering full-map cells [u0, u1) × [v0, v1) with the two extra points on each side
// that cubic interpolation needs.
Lattice cover(float u0, float v0, float u1, float v1, float sx, float sy, int ch) {
    Lattice l;
    l.sx = sx, l.sy = sy, l.ch = ch;
    l.i0 = static_cast<int>(std::floor(u0 / sx)) - 2;
    l.j0 = static_cast<int>(std::floor(v0 / sy)) - 2;
    l.nx = static_cast<int>(std::ceil(u1 / sx)) + 3 - l.i0;
    l.ny = static_cast<int>(std::ceil(v1 / sy)) + 3 - l.j0;
    l.v.assign(static_cast<size_t>(l.nx) * l.ny * ch, 0.0f);
    return l;
}

// Where a full-map coordinate falls between lattice points: the index (in the lattice) of the
// point before it and the Catmull-Rom weights of the four points around it. The curve passes
// through the samples with a continuous derivative.
struct Tap {
    int i;
    float w[4];
};
Tap tap(float u, float step, int first) {
    const float g = u / step, f = std::floor(g), t = g - f;
    Tap k;
    k.i = static_cast<int>(f) - first;
    k.w[0] = t * (-0.5f + t * (1 - 0.5f * t));
    k.w[1] = 1 + t * t * (-2.5f + 1.5f * t);
    k.w[2] = t * (0.5f + t * (2 - 1.5f * t));
    k.w[3] = t * t * (-0.5f + 0.5f * t);
    return k;
}

// The same for a position along the x (or y) axis of lattice l, held inside it: points in the
// margin of a coarser lattice may lie beyond the margin of a finer one.
Tap tap_x(const Lattice &l, float u) {
    return tap(std::clamp(u, l.sx * static_cast<float>(l.i0 + 1), l.sx * static_cast<float>(l.i0 + l.nx - 3)), l.sx, l.i0);
}
Tap tap_y(const Lattice &l, float v) {
    return tap(std::clamp(v, l.sy * static_cast<float>(l.j0 + 1), l.sy * static_cast<float>(l.j0 + l.ny - 3)), l.sy, l.j0);
}

// One lattice row interpolated at row position ty: nx × ch values.
void column_pass(const Lattice &l, const Tap &ty, float *out) {
    const size_t n = static_cast<size_t>(l.nx) * l.ch;
    const float *r[4];
    for (int b = 0; b < 4; ++b) r[b] = l.at(0, ty.i - 1 + b);
    for (size_t c = 0; c < n; ++c) out[c] = ty.w[0] * r[0][c] + ty.w[1] * r[1][c] + ty.w[2] * r[2][c] + ty.w[3] * r[3][c];
}

// Channel c of a column-interpolated row at column position tx.
float row_pass(const float *row, int ch, int c, const Tap &tx) {
    const float *p = row + static_cast<size_t>(tx.i - 1) * ch + c;
    return tx.w[0] * p[0] + tx.w[1] * p[ch] + tx.w[2] * p[2 * ch] + tx.w[3] * p[3 * ch];
}

// Scratch rows for one thread.
struct Rows {
    std::vector<float> buf;
    int n;
    explicit Rows(int n, int count) : buf(static_cast<size_t>(n) * count), n(n) {}
    float *operator[](int r) { return &buf[static_cast<size_t>(r) * n]; }
};

// ---- Stage A: warp, continents, mountainness ----

enum { A_QX, A_QY, A_LAND, A_MOUNT, A_CH };

void stage_a_row(Lattice &la, int j, const Seeds &sd) {
    const int n = la.nx;
    Rows r(n, 7);
    float *u = r[0], *v = r[1], *wx = r[2], *wy = r[3], *land = r[4], *mount = r[5], *tmp = r[6];
    for (int i = 0; i < n; ++i) {
        u[i] = static_cast<float>(la.i0 + i) * step_a, v[i] = static_cast<float>(la.j0 + j) * step_a;
        wx[i] = wy[i] = land[i] = mount[i] = 0;
    }
    fbm_row(u, v, n, warp_wavelength, 0, warp_octaves, sd.warp_x, step_a, wx, tmp);
    fbm_row(u, v, n, warp_wavelength, 0, warp_octaves, sd.warp_y, step_a, wy, tmp);
    for (int i = 0; i < n; ++i) u[i] += warp_amount * wx[i], v[i] += warp_amount * wy[i];
    fbm_row(u, v, n, continent_wavelength, 0, continent_octaves_a, sd.continent, step_a, land, tmp);
    fbm_row(u, v, n, mountain_mask_wavelength, 0, 3, sd.mask, step_a, mount, tmp);
    for (int i = 0; i < n; ++i) {
        float *a = la.at(i, j);
        a[A_QX] = u[i], a[A_QY] = v[i], a[A_LAND] = land[i];
        a[A_MOUNT] = smoothstep(-0.05f, 0.4f, mount[i]);
    }
}

// ---- Stage B: mountains and hills ----

enum { B_Z, B_RIDGE, B_WEIGHT, B_HILL, B_CH };

// Raw elevation (coast at 0 before the final shift) and what stage C needs, at n points (u, v) with
// A's values there (a: n × A_CH), keeping the octaves a lattice of spacing `s` can carry. out: n × B_CH.
void stage_b_row(const float *u, const float *v, const float *a, int n, const Seeds &sd, float sea, float s,
                 float *out) {
    Rows r(n, 13);
    float *qx = r[0], *qy = r[1], *land = r[2], *ridge = r[3], *weight = r[4], *hill = r[5], *gx = r[6], *gy = r[7];
    float *val = r[8], *dx = r[9], *dy = r[10], *wx = r[11], *wy = r[12];
    for (int k = 0; k < n; ++k) {
        qx[k] = a[k * A_CH + A_QX], qy[k] = a[k * A_CH + A_QY], land[k] = a[k * A_CH + A_LAND] - sea;
        ridge[k] = hill[k] = gx[k] = gy[k] = 0, weight[k] = 1;
    }
    fbm_row(qx, qy, n, continent_wavelength, continent_octaves_a, continent_octaves_b, sd.continent, s, land, val);

    // Ridged multifractal: sharp crests where the noise crosses zero, each octave weighted by the
    // one before so the detail gathers on the ridges and the valleys stay smooth. A finer warp bends
    // the crests.
    for (int k = 0; k < n; ++k) wx[k] = wy[k] = 0;
    fbm_row(qx, qy, n, ridge_warp_wavelength, 0, 2, sd.warp_x + 1, s, wx, val);
    fbm_row(qx, qy, n, ridge_warp_wavelength, 0, 2, sd.warp_y + 1, s, wy, val);
    for (int k = 0; k < n; ++k) qx[k] += ridge_warp_amount * wx[k], qy[k] += ridge_warp_amount * wy[k];
    float wl = ridge_wavelength;
    for (int i = 0; i < ridge_octaves_b; ++i, wl *= 0.5f) {
        const float b = band(wl, s) * ridge_amp[i];
        if (b <= 0) continue;
        octave_row(qx, qy, n, wl, i, sd.ridge, val);
        for (int k = 0; k < n; ++k) {
            const float edge = 1 - std::fabs(val[k]), sig = edge * edge * weight[k];
            weight[k] = std::clamp(sig * 2, 0.0f, 1.0f);
            ridge[k] += b * sig;
        }
    }
    // Hills whose finer octaves fade where the coarser ones are already steep, as erosion leaves them.
    float amp = 1;
    wl = hill_wavelength;
    for (int i = 0; i < hill_octaves_b; ++i, amp *= 0.5f, wl *= 0.5f) {
        const float b = band(wl, s) * amp;
        if (b <= 0) continue;
        octave_row(u, v, n, wl, i, sd.hill, val, dx, dy);
        for (int k = 0; k < n; ++k) {
            gx[k] += amp * hill_wavelength * dx[k], gy[k] += amp * hill_wavelength * dy[k];
            hill[k] += b * val[k] / (1 + 0.3f * (gx[k] * gx[k] + gy[k] * gy[k]));
        }
    }
    for (int k = 0; k < n; ++k) {
        const float l = land[k];
        // Continents: a power curve keeps coastal plains low and lifts the interiors.
        const float base = l > 0 ? 70 * (1 - std::exp(-4 * std::pow(l, 1.5f))) : 120 * l;
        const float onshore = smoothstep(-0.02f, 0.06f, l), m = a[k * A_CH + A_MOUNT];
        const float ridge_height = ridge_levels * m * onshore / ridge_sum, hill_height = hill_levels * onshore * (1 - 0.6f * m);
        float *o = out + k * B_CH;
        o[B_Z] = base + ridge_height * (ridge[k] - ridge_floor * ridge_sum) + hill_height * hill[k];
        o[B_RIDGE] = ridge_height;
        o[B_WEIGHT] = weight[k];
        o[B_HILL] = hill_height * amp / (1 + 0.3f * (gx[k] * gx[k] + gy[k] * gy[k]));
    }
}

// ---- Stage C: the finest octaves and the level range ----

struct Scale {
    float sea = 0;    // continent value of the coast
    float shift = 0;  // raw elevation of sea level
    float level = 1;  // levels per unit of raw elevation above sea level
    float deep = 1;   // raw depth at which the sea floor is 63% of the way to -128
};

float to_levels(float e, const Scale &k) {
    if (e < 0) {
        // Shelves first, flat at the coast like the plains above it, then the slope to the deep.
        const float t = -e / k.deep;
        return -128 * (1 - std::exp(-t * std::sqrt(t)));
    }
    // Above the knee, heights bend over smoothly to reach the top level with a level tangent.
    const float z = e * k.level, knee = 96, bend = 127 - knee;
    if (z <= knee) return z;
    const float t = std::min(z - knee, 2 * bend);
    return knee + t - t * t / (4 * bend);
}

// The value of quantile q (0 … 1) of `v`; reorders v.
float quantile(std::vector<float> &v, double q) {
    if (v.empty()) return 0;
    const size_t k = std::min(v.size() - 1, static_cast<size_t>(q * static_cast<double>(v.size())));
    std::nth_element(v.begin(), v.begin() + static_cast<long>(k), v.end());
    return v[k];
}

// Stage B at every point of lattice l, on A interpolated, keeping what spacing `s` can carry; plus
// the carving of the river valleys, interpolated, when given.
void fill_b(const Lattice &la, Lattice &l, const Seeds &sd, const Scale &k, float s, const Lattice *carve, int threads,
            const std::function<void(int)> &tick) {
    std::vector<Tap> ta(l.nx), tc(carve ? l.nx : 0);
    for (int i = 0; i < l.nx; ++i) {
        const float u = static_cast<float>(l.i0 + i) * l.sx;
        ta[i] = tap_x(la, u);
        if (carve) tc[i] = tap_x(*carve, u);
    }
    parallel_rows(l.ny, [&](int j0, int j1) {
        Rows r(l.nx, 2);
        std::vector<float> col(static_cast<size_t>(la.nx) * A_CH), a(static_cast<size_t>(l.nx) * A_CH);
        std::vector<float> ccol(carve ? carve->nx : 0);
        for (int j = j0; j < j1; ++j) {
            const float v = static_cast<float>(l.j0 + j) * l.sy;
            column_pass(la, tap_y(la, v), col.data());
            for (int i = 0; i < l.nx; ++i) {
                r[0][i] = static_cast<float>(l.i0 + i) * l.sx, r[1][i] = v;
                for (int c = 0; c < A_CH; ++c) a[static_cast<size_t>(i) * A_CH + c] = row_pass(col.data(), A_CH, c, ta[i]);
            }
            stage_b_row(r[0], r[1], a.data(), l.nx, sd, k.sea, s, l.at(0, j));
            for (int i = 0; i < l.nx; ++i) l.at(i, j)[B_Z] -= k.shift;
            if (carve) {
                column_pass(*carve, tap_y(*carve, v), ccol.data());
                for (int i = 0; i < l.nx; ++i) l.at(i, j)[B_Z] += row_pass(ccol.data(), 1, 0, tc[i]);
            }
        }
    }, threads, tick);
}

}  // namespace

// ---- Stage E: river valleys, phase by phase ----

namespace worldgen {
namespace {

using Item = std::pair<float, int>;
using Queue = std::priority_queue<Item, std::vector<Item>, std::greater<Item>>;

bool inside(int i, int j, int nx, int ny) { return i >= 0 && j >= 0 && i < nx && j < ny; }

// Where the flood starts: land on the edge, and drained points next to land not yet drained. The
// open sea is drained already and never reaches land, so it stays out of the queue.
void flood_sources(const std::vector<float> &fill, const std::vector<uint8_t> &seen, int nx, int ny, Queue &queue) {
    for (int j = 0; j < ny; ++j)
        for (int i = 0; i < nx; ++i) {
            const int p = j * nx + i;
            if (!seen[p]) continue;
            bool coast = fill[p] >= 0;
            for (int dj = -1; dj <= 1 && !coast; ++dj)
                for (int di = -1; di <= 1; ++di)
                    if (inside(i + di, j + dj, nx, ny) && !seen[(j + dj) * nx + i + di]) coast = true;
            if (coast) queue.push({fill[p], p});
        }
}

}  // namespace

// Points leave the queue lowest first, each reached from its lowest neighbour already drained;
// ties go by index, so the order is fixed.
Drainage flood(const std::vector<float> &z, int nx, int ny) {
    Drainage d{z, std::vector<int>(z.size(), -1), {}};
    d.order.reserve(z.size());
    std::vector<uint8_t> seen(z.size());
    for (int j = 0; j < ny; ++j)
        for (int i = 0; i < nx; ++i) seen[j * nx + i] = z[j * nx + i] < 0 || i == 0 || j == 0 || i == nx - 1 || j == ny - 1;
    Queue queue;
    flood_sources(d.fill, seen, nx, ny, queue);
    while (!queue.empty()) {
        const int p = queue.top().second;
        queue.pop();
        d.order.push_back(p);
        const int pi = p % nx, pj = p / nx;
        for (int dj = -1; dj <= 1; ++dj)
            for (int di = -1; di <= 1; ++di) {
                const int q = (pj + dj) * nx + pi + di;
                if (!inside(pi + di, pj + dj, nx, ny) || seen[q]) continue;
                seen[q] = 1;
                d.parent[q] = p;
                d.fill[q] = std::max(d.fill[q], d.fill[p] + 1e-3f);
                queue.push({d.fill[q], q});
            }
    }
    return d;
}

std::vector<float> drainage_areas(const Drainage &d) {
    std::vector<float> area(d.parent.size(), 1.0f);
    for (auto t = d.order.rbegin(); t != d.order.rend(); ++t)
        if (d.parent[*t] >= 0) area[d.parent[*t]] += area[*t];
    return area;
}

// The steady state of stream-power erosion, where the slope falls as a power (about the square
// root) of the area drained: a point standing higher above the next one downstream than a river
// draining its area would leave it is lowered. Downstream first, so each point builds on its floor.
std::vector<float> river_floor(const Drainage &d, const std::vector<float> &area, int nx, float steepest) {
    std::vector<float> low(d.fill.size());
    for (int p : d.order) {
        const int q = d.parent[p];
        if (q < 0) {
            low[p] = std::max(d.fill[p], 0.0f);
            continue;
        }
        const float dist = (p % nx != q % nx && p / nx != q / nx) ? 1.41421356f : 1.0f;
        low[p] = std::min(d.fill[p], low[q] + dist * steepest * std::pow(area[p], -river_concavity));
    }
    return low;
}

// Mountains, lifted fastest, are cut hardest; plains keep most of their gentle relief.
std::vector<float> river_cuts(const Drainage &d, const std::vector<float> &low, const std::vector<float> &mountain) {
    std::vector<float> cut(d.fill.size(), 0.0f);
    for (size_t p = 0; p < cut.size(); ++p)
        if (d.fill[p] > 0) cut[p] = std::min(0.0f, (low[p] - d.fill[p]) * (plain_cut + (1 - plain_cut) * mountain[p]));
    return cut;
}

void cap_cuts(std::vector<float> &cut, const std::vector<float> &fill, const std::vector<float> &deepest) {
    for (size_t p = 0; p < cut.size(); ++p) cut[p] = fill[p] > 0 ? std::max(cut[p], deepest[p]) : 0.0f;
}

// A river cut is only one point wide; two chamfer sweeps spread it sideways.
void widen_cuts(std::vector<float> &c, const std::vector<float> &fill, int nx, int ny, float spread) {
    const float diag = spread * 1.41421356f;
    auto relax = [&](int p, int q, float d) { c[p] = std::min(c[p], c[q] + d); };
    for (int j = 0; j < ny; ++j)
        for (int i = 0; i < nx; ++i) {
            const int p = j * nx + i;
            if (fill[p] <= 0) continue;
            if (i > 0) relax(p, p - 1, spread);
            if (j > 0) {
                relax(p, p - nx, spread);
                if (i > 0) relax(p, p - nx - 1, diag);
                if (i < nx - 1) relax(p, p - nx + 1, diag);
            }
        }
    for (int j = ny - 1; j >= 0; --j)
        for (int i = nx - 1; i >= 0; --i) {
            const int p = j * nx + i;
            if (fill[p] <= 0) continue;
            if (i < nx - 1) relax(p, p + 1, spread);
            if (j < ny - 1) {
                relax(p, p + nx, spread);
                if (i < nx - 1) relax(p, p + nx + 1, diag);
                if (i > 0) relax(p, p + nx - 1, diag);
            }
        }
}

// Interpolation between lattice points would ring on the kinks of a V.
void round_cuts(std::vector<float> &c, int nx, int ny) {
    std::vector<float> t(c.size());
    for (int pass = 0; pass < 2; ++pass) {
        for (int j = 0; j < ny; ++j)
            for (int i = 0; i < nx; ++i) {
                const int p = j * nx + i;
                t[p] = i == 0 || i == nx - 1 ? c[p] : 0.25f * (c[p - 1] + 2 * c[p] + c[p + 1]);
            }
        for (int j = 0; j < ny; ++j)
            for (int i = 0; i < nx; ++i) {
                const int p = j * nx + i;
                c[p] = j == 0 || j == ny - 1 ? t[p] : 0.25f * (t[p - nx] + 2 * t[p] + t[p + nx]);
            }
    }
}

}  // namespace worldgen

namespace {

// River valleys: every land point drains along a tree that reaches the sea (or the map's edge),
// and is lowered toward the floor its river would leave. Returns the (non-positive) change in raw
// elevation at each point of l.
Lattice carve_valleys(const Lattice &l, const Scale &k) {
    using namespace worldgen;
    const size_t n = static_cast<size_t>(l.nx) * l.ny;
    std::vector<float> z(n), mountain(n), deepest(n);
    for (size_t p = 0; p < n; ++p) {
        const float *b = &l.v[p * l.ch];
        z[p] = b[B_Z];
        mountain[p] = b[B_RIDGE] * (ridge_sum / ridge_levels);
        // Cuts never take more than a fixed share of a point's height, so high basins stay high
        // and land stays land.
        deepest[p] = -max_cut * std::max(0.0f, b[B_Z]);
    }
    const Drainage d = flood(z, l.nx, l.ny);
    const std::vector<float> low = river_floor(d, drainage_areas(d), l.nx, valley_wall_levels * l.sx / k.level);
    Lattice out;
    out.i0 = l.i0, out.j0 = l.j0, out.nx = l.nx, out.ny = l.ny, out.ch = 1, out.sx = l.sx, out.sy = l.sy;
    out.v = river_cuts(d, low, mountain);
    cap_cuts(out.v, d.fill, deepest);  // first, so valleys widen from depths their points may take
    widen_cuts(out.v, d.fill, l.nx, l.ny, valley_spread_levels * l.sx / k.level);
    round_cuts(out.v, l.nx, l.ny);
    cap_cuts(out.v, d.fill, deepest);  // rounding pulls shallow points toward deep neighbours
    return out;
}

struct Frame {
    float u0, v0, sx, sy;  // full-map position of output cell (0, 0) and cells per output cell
    int w, h;
};

// Sea level and the height scale, from stages A and B on the lattice of A: quantiles of the whole
// map that stay the same whatever is being generated.
Scale calibrate(const Lattice &la, const Seeds &sd, int threads) {
    const int ax0 = -la.i0, ay0 = -la.j0, anx = colonnes / static_cast<int>(step_a), any = lignes / static_cast<int>(step_a);
    std::vector<float> samples;
    samples.reserve(static_cast<size_t>(anx) * any);
    for (int j = 0; j < any; ++j)
        for (int i = 0; i < anx; ++i) samples.push_back(la.at(ax0 + i, ay0 + j)[A_LAND]);
    Scale k;
    k.sea = quantile(samples, water_fraction);
    std::vector<float> raw(samples.size());
    parallel_rows(any, [&](int j0, int j1) {
        Rows r(anx, 2);
        std::vector<float> b(static_cast<size_t>(anx) * B_CH);
        for (int j = j0; j < j1; ++j) {
            for (int i = 0; i < anx; ++i) r[0][i] = static_cast<float>(i) * step_a, r[1][i] = static_cast<float>(j) * step_a;
            stage_b_row(r[0], r[1], la.at(ax0, ay0 + j), anx, sd, k.sea, step_a, b.data());
            for (int i = 0; i < anx; ++i) raw[static_cast<size_t>(j) * anx + i] = b[static_cast<size_t>(i) * B_CH + B_Z];
        }
    }, threads);
    // Sea level moves a little where mountains and hills rise from the shallows.
    samples = raw;
    k.shift = quantile(samples, water_fraction);
    std::vector<float> above, below;
    for (float e : raw) (e > k.shift ? above : below).push_back(e - k.shift);
    // The highest 0.1% of the land (finer octaves add some more) reach the top level…
    k.level = 140 / std::max(quantile(above, 0.999), 1e-3f);
    // … and the deepest 2% of the sea the lowest.
    k.deep = std::max(-quantile(below, 0.02), 1e-3f) / std::pow(std::log(256.0f), 2.0f / 3);
    return k;
}

// Stage C: the output cells from lattice B, each row interpolated down the columns once, then along.
void stage_c(const Frame &fr, const Lattice &lb, const Seeds &sd, const Scale &k, float *z, int threads,
             const std::function<void(int)> &tick) {
    std::vector<Tap> tx(fr.w);
    for (int x = 0; x < fr.w; ++x) tx[x] = tap_x(lb, fr.u0 + fr.sx * static_cast<float>(x));
    const float sc = std::max(fr.sx, fr.sy);
    const float wl0 = std::ldexp(ridge_wavelength, -ridge_octaves_b);
    parallel_rows(fr.h, [&](int y0, int y1) {
        std::vector<float> col(static_cast<size_t>(lb.nx) * B_CH);
        Rows r(fr.w, 7);
        float *u = r[0], *v = r[1], *e = r[2], *height = r[3], *weight = r[4], *hill = r[5], *val = r[6];
        for (int x = 0; x < fr.w; ++x) u[x] = fr.u0 + fr.sx * static_cast<float>(x);
        for (int y = y0; y < y1; ++y) {
            const float vy = fr.v0 + fr.sy * static_cast<float>(y);
            column_pass(lb, tap_y(lb, vy), col.data());
            for (int x = 0; x < fr.w; ++x) {
                v[x] = vy;
                e[x] = row_pass(col.data(), B_CH, B_Z, tx[x]);
                height[x] = row_pass(col.data(), B_CH, B_RIDGE, tx[x]);
                weight[x] = std::clamp(row_pass(col.data(), B_CH, B_WEIGHT, tx[x]), 0.0f, 1.0f);
                hill[x] = row_pass(col.data(), B_CH, B_HILL, tx[x]);
            }
            // The ridges go on where stage B left them, and the hills with the same noise.
            float wl = wl0;
            for (int i = ridge_octaves_b; i < ridge_octaves_b + ridge_octaves_c; ++i, wl *= 0.5f) {
                const float bl = band(wl, sc);
                if (bl <= 0) continue;
                octave_row(u, v, fr.w, wl, i, sd.ridge, val);
                for (int x = 0; x < fr.w; ++x) {
                    float sig = 1 - std::fabs(val[x]);
                    sig *= sig * weight[x];
                    weight[x] = std::clamp(sig * 2, 0.0f, 1.0f);
                    e[x] += bl * (height[x] * ridge_amp[i] * sig + hill[x] * val[x]);
                    hill[x] *= 0.5f;
                }
            }
            float *out = z + static_cast<size_t>(y) * fr.w;
            for (int x = 0; x < fr.w; ++x) out[x] = to_levels(e[x], k);
        }
    }, threads, tick);
}

std::vector<float> generate(const Frame &fr, uint64_t seed, int threads, const ProgressFn &progress) {
    const Seeds sd(seed);
    auto report = [&](double f) {
        if (progress) progress(f);
    };
    Lattice la = cover(0, 0, colonnes, lignes, step_a, step_a, A_CH);
    parallel_rows(la.ny, [&](int j0, int j1) {
        for (int j = j0; j < j1; ++j) stage_a_row(la, j, sd);
    }, threads);
    const Scale k = calibrate(la, sd, threads);
    report(0.05);

    Lattice le = cover(0, 0, colonnes, lignes, step_e, step_e, B_CH);
    fill_b(la, le, sd, k, step_e, nullptr, threads, {});
    const Lattice carve = carve_valleys(le, k);
    report(0.12);

    // Stage B over the output, never finer than the output cells.
    const float sbx = std::max(step_b, fr.sx), sby = std::max(step_b, fr.sy);
    const float u1 = fr.u0 + fr.sx * static_cast<float>(fr.w), v1 = fr.v0 + fr.sy * static_cast<float>(fr.h);
    Lattice lb = cover(fr.u0, fr.v0, u1, v1, sbx, sby, B_CH);
    fill_b(la, lb, sd, k, std::max(sbx, sby), &carve, threads, [&](int done) { report(0.12 + 0.1 * done / lb.ny); });

    std::vector<float> z(static_cast<size_t>(fr.w) * fr.h);
    stage_c(fr, lb, sd, k, z.data(), threads, [&](int done) { report(0.22 + 0.78 * done / fr.h); });
    return z;
}

}  // namespace

std::vector<float> world_heights(int w, int h, uint64_t seed, int threads, const ProgressFn &progress) {
    if (w <= 0 || h <= 0) return {};
    const float sx = static_cast<float>(colonnes) / static_cast<float>(w), sy = static_cast<float>(lignes) / static_cast<float>(h);
    return generate({0, 0, sx, sy, w, h}, seed, threads, progress);
}

std::vector<float> world_window(int x0, int y0, int w, int h, uint64_t seed, int threads) {
    if (w <= 0 || h <= 0) return {};
    return generate({static_cast<float>(x0), static_cast<float>(y0), 1, 1, w, h}, seed, threads, {});
}
