// Frame benchmark: the viewer's renderer timed against a replay of the same GL calls from arrays made beforehand.
#include "bench/measure.h"
#include "src/input.h"
#include "src/terrain.h"
#include "src/view.h"
#include "src/window.h"

#include <GL/freeglut.h>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <vector>

// Allocation calls so far: all, and those made by this executable's code (allocs.c).
extern "C" unsigned long long allocations();
extern "C" unsigned long long own_allocations();

namespace {

// The floor: the vertices and colours affichage emits for the current view, worked out once,
// so that a replay costs only the GL calls themselves.
struct floor_frame {
    std::vector<GLint> xyz;    // 4 vertices a quad, in the order A, B, C, D
    std::vector<GLubyte> rgb;  // the colour set before each vertex
};

floor_frame prepare() {
    floor_frame p;
    const long long d = static_cast<long long>(pas) * zoom;
    int y0 = -patch_side / 2;
    for (long long yc = ydeb; yc < ydeb + static_cast<long long>(patch_side) * zoom; yc += d, y0 += pas) {
        int x0 = -patch_side / 2;
        for (long long xc = xdeb; xc < xdeb + static_cast<long long>(patch_side) * zoom; xc += d, x0 += pas) {
            const long long grid[4][2] = {{xc + d, yc}, {xc, yc}, {xc, yc + d}, {xc + d, yc + d}};
            const int unit[4][2] = {{x0 + pas, y0}, {x0, y0}, {x0, y0 + pas}, {x0 + pas, y0 + pas}};
            for (int k = 0; k < 4; ++k) {
                const map_cell c = lit_cellule(grid[k][0], grid[k][1]);
                p.rgb.insert(p.rgb.end(), {couleur_r(c.colour), couleur_g(c.colour), couleur_b(c.colour)});
                p.xyz.insert(p.xyz.end(), {unit[k][0], unit[k][1], c.h / 3 / zoom});
            }
        }
    }
    return p;
}

// One frame from the prepared arrays, with the same transforms, primitives and ending as affichage.
void replay(const floor_frame &p) {
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    glPushMatrix();
    const float s = static_cast<float>(100.0 / dist);
    glScalef(s, s, s);
    glRotatef(static_cast<float>(-angley), 1, 0, 0);
    glRotatef(static_cast<float>(-anglex), 0, 0, 1);
    glTranslatef(0, 0, static_cast<float>(hauteur));
    const GLint *v = p.xyz.data();
    const GLubyte *c = p.rgb.data();
    for (size_t q = p.xyz.size() / 12; q > 0; --q) {
        glBegin(GL_POLYGON);
        for (int k = 0; k < 4; ++k, v += 3, c += 3) {
            glColor3ub(c[0], c[1], c[2]);
            glVertex3i(v[0], v[1], v[2]);
        }
        glEnd();
    }
    glPopMatrix();
    glFlush();
    glutSwapBuffers();
}

floor_frame current;
void replay_current() { replay(current); }

// Allocation calls made while frames were being drawn, by whose frames: all, and our code's.
struct heap_count {
    unsigned long long calls = 0, own_calls = 0, frames = 0;
};
heap_count view_heap, floor_heap;

// Draws one frame and waits until it is finished; its time in milliseconds.
double image(void (*draw)(), heap_count &t) {
    const unsigned long long a = allocations(), p = own_allocations();
    const double t0 = seconds();
    draw();
    glFinish();
    const double ms = 1e3 * (seconds() - t0);
    t.calls += allocations() - a;
    t.own_calls += own_allocations() - p;
    ++t.frames;
    return ms;
}

// The frame just drawn: after the swap, the software driver's back buffer still holds it.
std::vector<unsigned char> back_buffer() {
    std::vector<unsigned char> px(600 * 600 * 3);
    glReadBuffer(GL_BACK);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadPixels(0, 0, 600, 600, GL_RGB, GL_UNSIGNED_BYTE, px.data());
    return px;
}

// Paints the back buffer magenta, a colour no cell can have (channels are multiples of 8 up to 248),
// so that a read showing it means the frame did not reach the buffer read.
void prime() {
    glClearColor(1, 0, 1, 0);
    glClear(GL_COLOR_BUFFER_BIT);
    glClearColor(0, 0, 0, 0);
}

// The floor must draw the viewer's picture: pixels of the viewer's frame that are not black,
// and pixels in which the floor's frame differs from it or either frame is missing.
struct comparison {
    long lit = 0, differing = 0;
};
comparison compare() {
    prime();
    affichage();
    glFinish();
    const std::vector<unsigned char> a = back_buffer();
    prime();
    replay_current();
    glFinish();
    const std::vector<unsigned char> b = back_buffer();
    comparison c;
    for (size_t i = 0; i < a.size(); i += 3) {
        const bool magenta = a[i] == 255 && a[i + 1] == 0 && a[i + 2] == 255;
        c.lit += a[i] || a[i + 1] || a[i + 2];
        c.differing += magenta || a[i] != b[i] || a[i + 1] != b[i + 1] || a[i + 2] != b[i + 2];
    }
    return c;
}

double min_seconds = 2.0;        // seconds of measured pairs per case, at least
unsigned long long alloc_frames = 1000;  // viewer frames the allocation count covers, at least
constexpr int min_pairs = 15, max_pairs = 2000;

// Times the viewer and the floor alternately at one view, in alternating order within pairs.
void measure(int p, int z) {
    pas = p, zoom = z;
    current = prepare();
    const long quads = static_cast<long>(current.xyz.size() / 12);
    for (int i = 0; i < 3; ++i) affichage(), replay_current(), glFinish();
    const comparison cmp = compare();
    const heap_count before_view = view_heap, before_floor = floor_heap;
    std::vector<double> view_ms, floor_ms, ratios;
    const double t0 = seconds();
    for (int i = 0; i < max_pairs && (i < min_pairs || seconds() - t0 < min_seconds); ++i) {
        double a, b;
        if (i % 2) {
            b = image(replay_current, floor_heap);
            a = image(affichage, view_heap);
        } else {
            a = image(affichage, view_heap);
            b = image(replay_current, floor_heap);
        }
        view_ms.push_back(a), floor_ms.push_back(b), ratios.push_back(a / b);
    }
    const double allocs_view = static_cast<double>(view_heap.calls - before_view.calls) / static_cast<double>(view_ms.size());
    const double allocs_floor =
        static_cast<double>(floor_heap.calls - before_floor.calls) / static_cast<double>(floor_ms.size());
    std::printf("frame %d %d %ld %.3f %.3f %.4f %zu %.1f %.1f %ld %ld\n", p, z, quads, median(view_ms), median(floor_ms),
                median(ratios), view_ms.size(), allocs_view, allocs_floor, cmp.lit, cmp.differing);
    std::fflush(stdout);
}

// The fixed part of every frame: clear, transforms, flush and swap, with no quad.
void measure_empty() {
    current = floor_frame{};
    heap_count unused;
    std::vector<double> t;
    for (int i = 0; i < 200; ++i) t.push_back(image(replay_current, unused));
    std::printf("empty %.3f\n", median(t));
}

void run_bench() {
    static bool done = false;
    if (done) return;
    done = true;
    // The count must see this program's own allocations, or its zero for the renderer would mean nothing.
    const unsigned long long before = own_allocations();
    void *volatile m = std::malloc(16);
    std::free(m);
    int *volatile n = new int(1);
    delete n;
    if (own_allocations() - before != 2) {
        std::fprintf(stderr, "bench_frame: the allocation count misses this program's own calls\n");
        std::exit(1);
    }
    std::printf("renderer %s\n", reinterpret_cast<const char *>(glGetString(GL_RENDERER)));
    for (int p : {1, 2, 4, 8, 16}) measure(p, 1);
    measure(1, 1000);
    // Tops up the frames the allocation count covers, at pas 1.
    pas = 1, zoom = 1;
    current = prepare();
    while (view_heap.frames < alloc_frames) image(affichage, view_heap), image(replay_current, floor_heap);
    measure_empty();
    // Input events: every command key but quit, and left and right drags, through the real callbacks.
    const char keys[] = "8246rmpolikuj";
    const unsigned long long before_events = allocations();
    const long events = 100000;
    for (long i = 0; i < events; ++i) {
        clavier(static_cast<unsigned char>(keys[i % (sizeof keys - 1)]), 300, 300);
        mouse(i % 3 == 0 ? GLUT_LEFT_BUTTON : GLUT_RIGHT_BUTTON, i % 2 ? GLUT_UP : GLUT_DOWN, 300, 300);
        mousemotion(static_cast<int>(300 + i % 50), static_cast<int>(300 - i % 70));
    }
    std::printf("events %ld %llu\n", 3 * events, allocations() - before_events);
    std::printf("allocs %llu %llu %llu %llu %llu\n", view_heap.frames, view_heap.calls, floor_heap.frames,
                floor_heap.calls, view_heap.own_calls);
    std::fflush(stdout);
    std::exit(0);
}

}  // namespace

int main(int argc, char **argv) {
    const bool bare = argc == 2 && std::strcmp(argv[1], "--bare") == 0;
    if (argc < 2 || argc > 4 || (!bare && argv[1][0] == '-')) {
        std::fprintf(stderr,
                     "usage: bench_frame MAP [SECONDS_PER_CASE [ALLOC_FRAMES]]   times the renderer against its floor\n"
                     "       bench_frame --bare      the viewer's window and frames, with no map loaded\n");
        return 1;
    }
    if (argc >= 3) min_seconds = std::atof(argv[2]);
    if (argc == 4) alloc_frames = std::strtoull(argv[3], nullptr, 10);
    if (!bare) {
        const load_result loaded = charge_terrain(argv[1]);
        if (loaded.state != load_ok) {
            std::fprintf(stderr, "bench_frame: %s\n", loaded.reason.c_str());
            return 1;
        }
    }
    // The window and GL state the viewer's start-up makes.
    int gargc = 1;
    char name[] = "bench_frame";
    char *gargv[] = {name, nullptr};
    open_window(&gargc, gargv);
    // Bare, it is the viewer less its map, for the start-up and memory baselines; otherwise the
    // first exposure runs the whole benchmark in the mapped window, then exits.
    glutDisplayFunc(bare ? affichage : run_bench);
    glutMainLoop();
    return 1;
}
