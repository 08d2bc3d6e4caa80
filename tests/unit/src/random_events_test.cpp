// Millions of random keys and mouse events: the view parameters stay in range and frames stay drawable.
#include "src/input.h"
#include "src/view.h"
#include "tests/unit/src/glrec.h"

#include <GL/freeglut.h>
#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>
#include <cstdio>
#include <random>

namespace {

// Silences the stderr stream for the scope, since every key without a command writes a diagnostic
// line; file descriptor 2 stays open, so sanitizer reports still show. (glibc lets stderr be assigned.)
class Quiet {
public:
    Quiet() : saved_(stderr), null_(std::fopen("/dev/null", "w")) { stderr = null_; }
    ~Quiet() {
        stderr = saved_;
        std::fclose(null_);
    }

private:
    FILE *saved_, *null_;
};

// Coordinates mostly inside the window, sometimes far outside it or at the ends of int.
int coordinate(std::mt19937_64 &g) {
    switch (g() % 8) {
    case 0: return static_cast<int>(g() % 200001) - 100000;
    case 1: return (g() & 1) ? INT_MAX : INT_MIN;
    case 2: return static_cast<int>(g());
    default: return static_cast<int>(g() % 800) - 100;
    }
}

TEST(RandomEvents, ViewStaysInRangeUnderRandomEvents) {
    const char *env = std::getenv("MORVATH_SEED");
    const uint64_t seed = env ? std::strtoull(env, nullptr, 10) : 20261207;
    SCOPED_TRACE(testing::Message() << "seed " << seed << " (rerun with MORVATH_SEED=" << seed << ")");
    std::mt19937_64 g(seed);
    xdeb = 1294, ydeb = 1552, pas = 1, zoom = 1, anglex = 0, angley = 0, dist = 100, hauteur = -10;
    presse_g = presse_d = 0;

    const long events = 2000000;
    int frames = 0;
    Quiet quiet;
    for (long n = 0; n < events; ++n) {
        switch (g() % 4) {
        case 0: {
            unsigned char k = static_cast<unsigned char>(g());
            if (k == 'q' || k == 27) k = 'k';  // those end the process
            // Zoom and pan keys in runs, so large zooms and the map's edges are reached.
            const int repeats = (k == 'k' || k == '6' || k == '2') ? static_cast<int>(g() % 64) + 1 : 1;
            for (int r = 0; r < repeats; ++r) clavier(k, coordinate(g), coordinate(g));
            break;
        }
        case 1: mouse(static_cast<int>(g() % 8), static_cast<int>(g() % 2), coordinate(g), coordinate(g)); break;
        default: mousemotion(coordinate(g), coordinate(g)); break;
        }
        const bool ok = xdeb >= 0 && xdeb <= 6143 && ydeb >= 0 && ydeb <= 4095 && pas >= 1 && pas <= 16 && zoom >= 1 && dist >= 1;
        ASSERT_TRUE(ok) << "after event " << n << ": xdeb " << xdeb << " ydeb " << ydeb << " pas " << pas << " zoom " << zoom
                        << " dist " << dist;
        if (n % 20000 == 0) {
            gl_log.clear();
            affichage();
            const int quads_per_side = (150 + pas - 1) / pas;
            ASSERT_EQ(count_calls(gl::begin), quads_per_side * quads_per_side) << "frame after event " << n;
            ++frames;
        }
    }
    EXPECT_EQ(frames, 100);
}

}  // namespace
