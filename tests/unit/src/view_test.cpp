// The renderer through the recording GL: transforms, mesh walk, vertices, heights and colours.
#include "src/terrain.h"
#include "src/view.h"
#include "tests/unit/src/glrec.h"

#include <GL/gl.h>
#include <gtest/gtest.h>

#include <climits>
#include <cstring>

namespace {

// A colour and height for every cell, computed without the viewer's code, so tests can predict samples.
uint16_t colour_of(long long x, long long y) { return static_cast<uint16_t>((x * 37 + y * 101) & 0x7FFF); }
int8_t height_of(long long x, long long y) { return static_cast<int8_t>((x * 7 + y * 13) % 256 - 128); }

// What the renderer must draw for grid position (x, y): the cell's values, or nothing past the grid.
struct expected {
    int r, g, b, h;
};
expected reference(long long x, long long y) {
    const long long i = y * 6144 + x;
    if (i >= 6144LL * 4096) return {0, 0, 0, 0};
    const long long cx = i % 6144, cy = i / 6144;
    const uint16_t c = colour_of(cx, cy);
    return {(c >> 10) * 8, ((c >> 5) & 31) * 8, (c & 31) * 8, height_of(cx, cy)};
}

struct quad {
    int v[4][3];
    int c[4][3];
};

class Renderer : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        for (long long y = 0; y < grid_rows; ++y)
            for (long long x = 0; x < grid_columns; ++x) {
                unsigned char *p = data3d + 3 * (y * grid_columns + x);
                const uint16_t c = colour_of(x, y);
                p[0] = static_cast<unsigned char>(c >> 8), p[1] = static_cast<unsigned char>(c);
                p[2] = static_cast<unsigned char>(height_of(x, y));
            }
    }
    void SetUp() override {
        xdeb = 1294, ydeb = 1552, pas = 1, zoom = 1, anglex = 0, angley = 0, dist = 100, hauteur = -10;
        gl_log.clear();
    }
    // The quads of one frame, checking each is a GL_POLYGON of four coloured vertices.
    static std::vector<quad> quads() {
        gl_log.clear();
        affichage();
        std::vector<quad> q;
        for (size_t i = 0; i < gl_log.size(); ++i) {
            if (gl_log[i].f != gl::begin) continue;
            EXPECT_EQ(gl_log[i].a[0], GL_POLYGON);
            quad u{};
            for (int k = 0; k < 4; ++k) {
                const gl_call &c = gl_log[i + 1 + 2 * k], &v = gl_log[i + 2 + 2 * k];
                EXPECT_EQ(c.f, gl::colour);
                EXPECT_EQ(v.f, gl::vertex);
                for (int j = 0; j < 3; ++j) u.c[k][j] = static_cast<int>(c.a[j]), u.v[k][j] = static_cast<int>(v.a[j]);
            }
            EXPECT_EQ(gl_log[i + 9].f, gl::end);
            q.push_back(u);
        }
        return q;
    }
};

TEST_F(Renderer, FrameIsTransformedThenDrawnThenPresented) {
    anglex = 30, angley = -20, hauteur = 7, dist = 200;
    affichage();
    ASSERT_GE(gl_log.size(), 7u);
    EXPECT_EQ(gl_log[0].f, gl::clear);
    EXPECT_EQ(gl_log[0].a[0], GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    EXPECT_EQ(gl_log[1].f, gl::push);
    EXPECT_EQ(gl_log[2].f, gl::scale);
    for (int j = 0; j < 3; ++j) EXPECT_FLOAT_EQ(gl_log[2].a[j], 0.5f);
    const double tilt[] = {20, 1, 0, 0}, turn[] = {-30, 0, 0, 1}, shift[] = {0, 0, 7, 0};
    EXPECT_EQ(gl_log[3].f, gl::rotate);
    EXPECT_EQ(gl_log[4].f, gl::rotate);
    EXPECT_EQ(gl_log[5].f, gl::translate);
    for (int j = 0; j < 4; ++j) {
        EXPECT_EQ(gl_log[3].a[j], tilt[j]) << j;
        EXPECT_EQ(gl_log[4].a[j], turn[j]) << j;
        EXPECT_EQ(gl_log[5].a[j], shift[j]) << j;
    }
    const size_t n = gl_log.size();
    EXPECT_EQ(gl_log[n - 3].f, gl::pop);
    EXPECT_EQ(gl_log[n - 2].f, gl::flush);
    EXPECT_EQ(gl_log[n - 1].f, gl::swap);
    EXPECT_EQ(count_calls(gl::push), 1);
    EXPECT_EQ(count_calls(gl::pop), 1);
}

TEST_F(Renderer, ScaleIsHundredOverDist) {
    const std::pair<int, float> table[] = {{1, 100.0f}, {100, 1.0f}, {200, 0.5f}, {3, static_cast<float>(100.0 / 3)},
                                           {INT_MAX, static_cast<float>(100.0 / INT_MAX)}};
    for (auto [d, s] : table) {
        dist = d;
        gl_log.clear();
        affichage();
        EXPECT_EQ(gl_log[2].a[0], s) << d;
    }
}

TEST_F(Renderer, ExtremeAnglesAreNegatedWithoutOverflow) {
    const int table[] = {INT_MIN, INT_MAX, -1, 0};
    for (int a : table) {
        anglex = a, angley = a;
        gl_log.clear();
        affichage();
        EXPECT_EQ(gl_log[3].a[0], -static_cast<float>(a)) << a;
        EXPECT_EQ(gl_log[4].a[0], -static_cast<float>(a)) << a;
    }
}

TEST_F(Renderer, QuadsPerSideAreTheCeilingOf150OverPas) {
    for (int p = 1; p <= 16; ++p) {
        pas = p;
        const int quads_per_side = (150 + p - 1) / p;
        EXPECT_EQ(quads().size(), static_cast<size_t>(quads_per_side * quads_per_side)) << "pas " << p;
        EXPECT_EQ(count_calls(gl::begin), count_calls(gl::end));
    }
}

TEST_F(Renderer, VerticesFollowTheWalkWithCornersABCD) {
    struct row_case {
        int pas, zoom;
    };
    for (const row_case &k : {row_case{1, 1}, row_case{4, 1}, row_case{16, 1}, row_case{1, 2}, row_case{2, 3}}) {
        pas = k.pas, zoom = k.zoom;
        SCOPED_TRACE(testing::Message() << "pas " << pas << " zoom " << zoom);
        const std::vector<quad> q = quads();
        const int n = (150 + pas - 1) / pas;
        ASSERT_EQ(q.size(), static_cast<size_t>(n * n));
        const long long d = 1LL * pas * zoom;
        for (int j = 0; j < n; ++j)
            for (int i = 0; i < n; ++i) {
                const quad &u = q[j * n + i];
                const long long xc = xdeb + i * d, yc = ydeb + j * d;
                const int x0 = i * pas - 75, y0 = j * pas - 75;
                const long long gx[4] = {xc + d, xc, xc, xc + d}, gy[4] = {yc, yc, yc + d, yc + d};
                const int vx[4] = {x0 + pas, x0, x0, x0 + pas}, vy[4] = {y0, y0, y0 + pas, y0 + pas};
                for (int c = 0; c < 4; ++c) {
                    const expected a = reference(gx[c], gy[c]);
                    ASSERT_EQ(u.v[c][0], vx[c]);
                    ASSERT_EQ(u.v[c][1], vy[c]);
                    ASSERT_EQ(u.v[c][2], a.h / 3 / zoom) << "corner " << c << " at quad " << i << "," << j;
                    ASSERT_EQ(u.c[c][0], a.r);
                    ASSERT_EQ(u.c[c][1], a.g);
                    ASSERT_EQ(u.c[c][2], a.b);
                }
            }
    }
}

TEST_F(Renderer, LastQuadsReachPastTheEdgeAtCoarseSteps) {
    const std::pair<int, int> table[] = {{4, 73}, {16, 69}, {1, 74}};
    for (auto [p, start] : table) {
        pas = p;
        const quad u = quads().back();
        EXPECT_EQ(u.v[1][0], start) << p;
        EXPECT_EQ(u.v[0][0], start + p) << p;
        EXPECT_EQ(u.v[2][1], start + p) << p;
    }
}

TEST_F(Renderer, NegativeHeightsTruncateTowardZero) {
    // Cell (1294, 1552) is corner B of the first quad; give it each height in turn.
    unsigned char *p = data3d + 3 * (1552LL * grid_columns + 1294);
    const unsigned char before = p[2];
    struct row_case {
        int h, zoom, z;
    };
    const row_case table[] = {{-128, 1, -42}, {-128, 2, -21}, {-128, 3, -14}, {-1, 1, 0}, {-2, 1, 0},
                         {-3, 1, -1},    {127, 1, 42},   {127, 5, 8},    {-128, 100, 0}};
    for (const row_case &c : table) {
        p[2] = static_cast<unsigned char>(c.h);
        zoom = c.zoom;
        EXPECT_EQ(quads().front().v[1][2], c.z) << "h " << c.h << " zoom " << c.zoom;
    }
    p[2] = before;
}

TEST_F(Renderer, RightEdgeWrapsIntoTheNextRowAndBottomIsBlack) {
    xdeb = 6143, ydeb = 100;
    std::vector<quad> q = quads();
    // Quad 1 of the first row starts at column 6144: the start of row 101.
    expected a = reference(0, 101);
    EXPECT_EQ(q[1].c[1][0], a.r);
    EXPECT_EQ(q[1].c[1][1], a.g);
    EXPECT_NE(a.r + a.g + a.b, 0);

    xdeb = 0, ydeb = 4095;
    q = quads();
    for (size_t k = 150; k < q.size(); ++k)  // every row of quads below the first samples past the grid
        for (int c = 0; c < 4; ++c) {
            ASSERT_EQ(q[k].c[c][0] + q[k].c[c][1] + q[k].c[c][2], 0);
            ASSERT_EQ(q[k].v[c][2], 0);
        }
}

TEST_F(Renderer, HugeZoomStillWalks150By150InsideTheStorage) {
    for (int z : {1000, 1 << 20, INT_MAX}) {
        zoom = z, xdeb = 6143, ydeb = 4095;
        for (int p : {1, 16}) {
            pas = p;
            const std::vector<quad> q = quads();
            const int n = (150 + p - 1) / p;
            ASSERT_EQ(q.size(), static_cast<size_t>(n * n)) << z;
            EXPECT_EQ(q.back().v[3][0], (n - 1) * p - 75 + p);
            for (int c = 0; c < 4; ++c) EXPECT_EQ(q.back().c[c][0], 0);
        }
    }
}

}  // namespace
