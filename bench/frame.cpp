// Frame benchmark: the viewer's renderer timed against a replay of the same GL calls from arrays made beforehand.
#include "mesure.h"
#include "fenetre.h"
#include "input.h"
#include "terrain.h"
#include "view.h"

#include <GL/freeglut.h>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <vector>

// Allocation calls so far: all, and those made by this executable's code (allocs.c).
extern "C" unsigned long long allocations();
extern "C" unsigned long long allocations_propres();

namespace {

// The floor: the vertices and colours affichage emits for the current view, worked out once,
// so that a replay costs only the GL calls themselves.
struct plancher {
    std::vector<GLint> xyz;    // 4 vertices a quad, in the order A, B, C, D
    std::vector<GLubyte> rgb;  // the colour set before each vertex
};

plancher prepare() {
    plancher p;
    const long long d = static_cast<long long>(pas) * zoom;
    int y0 = -cote / 2;
    for (long long yc = ydeb; yc < ydeb + static_cast<long long>(cote) * zoom; yc += d, y0 += pas) {
        int x0 = -cote / 2;
        for (long long xc = xdeb; xc < xdeb + static_cast<long long>(cote) * zoom; xc += d, x0 += pas) {
            const long long grille[4][2] = {{xc + d, yc}, {xc, yc}, {xc, yc + d}, {xc + d, yc + d}};
            const int vue[4][2] = {{x0 + pas, y0}, {x0, y0}, {x0, y0 + pas}, {x0 + pas, y0 + pas}};
            for (int k = 0; k < 4; ++k) {
                const cellule c = lit_cellule(grille[k][0], grille[k][1]);
                p.rgb.insert(p.rgb.end(), {couleur_r(c.couleur), couleur_g(c.couleur), couleur_b(c.couleur)});
                p.xyz.insert(p.xyz.end(), {vue[k][0], vue[k][1], c.h / 3 / zoom});
            }
        }
    }
    return p;
}

// One frame from the prepared arrays, with the same transforms, primitives and ending as affichage.
void rejoue(const plancher &p) {
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

plancher courant;
void rejoue_courant() { rejoue(courant); }

// Allocation calls made while frames were being drawn, by whose frames: all, and our code's.
struct tas {
    unsigned long long appels = 0, propres = 0, images = 0;
};
tas tas_vue, tas_plancher;

// Draws one frame and waits until it is finished; its time in milliseconds.
double image(void (*dessine)(), tas &t) {
    const unsigned long long a = allocations(), p = allocations_propres();
    const double t0 = secondes();
    dessine();
    glFinish();
    const double ms = 1e3 * (secondes() - t0);
    t.appels += allocations() - a;
    t.propres += allocations_propres() - p;
    ++t.images;
    return ms;
}

// The frame just drawn: after the swap, the software driver's back buffer still holds it.
std::vector<unsigned char> ecran() {
    std::vector<unsigned char> px(600 * 600 * 3);
    glReadBuffer(GL_BACK);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadPixels(0, 0, 600, 600, GL_RGB, GL_UNSIGNED_BYTE, px.data());
    return px;
}

// Paints the back buffer magenta, a colour no cell can have (channels are multiples of 8 up to 248),
// so that a read showing it means the frame did not reach the buffer read.
void amorce() {
    glClearColor(1, 0, 1, 0);
    glClear(GL_COLOR_BUFFER_BIT);
    glClearColor(0, 0, 0, 0);
}

// The floor must draw the viewer's picture: pixels of the viewer's frame that are not black,
// and pixels in which the floor's frame differs from it or either frame is missing.
struct comparaison {
    long allumes = 0, differents = 0;
};
comparaison compare() {
    amorce();
    affichage();
    glFinish();
    const std::vector<unsigned char> a = ecran();
    amorce();
    rejoue_courant();
    glFinish();
    const std::vector<unsigned char> b = ecran();
    comparaison c;
    for (size_t i = 0; i < a.size(); i += 3) {
        const bool magenta = a[i] == 255 && a[i + 1] == 0 && a[i + 2] == 255;
        c.allumes += a[i] || a[i + 1] || a[i + 2];
        c.differents += magenta || a[i] != b[i] || a[i + 1] != b[i + 1] || a[i + 2] != b[i + 2];
    }
    return c;
}

double duree_min = 2.0;        // seconds of measured pairs per case, at least
unsigned long long images_tas = 1000;  // viewer frames the allocation count covers, at least
constexpr int paires_min = 15, paires_max = 2000;

// Times the viewer and the floor alternately at one view, in alternating order within pairs.
void mesure(int p, int z) {
    pas = p, zoom = z;
    courant = prepare();
    const long quads = static_cast<long>(courant.xyz.size() / 12);
    for (int i = 0; i < 3; ++i) affichage(), rejoue_courant(), glFinish();
    const comparaison cmp = compare();
    const tas avant_vue = tas_vue, avant_plancher = tas_plancher;
    std::vector<double> vue, plan, rapports;
    const double t0 = secondes();
    for (int i = 0; i < paires_max && (i < paires_min || secondes() - t0 < duree_min); ++i) {
        double a, b;
        if (i % 2) {
            b = image(rejoue_courant, tas_plancher);
            a = image(affichage, tas_vue);
        } else {
            a = image(affichage, tas_vue);
            b = image(rejoue_courant, tas_plancher);
        }
        vue.push_back(a), plan.push_back(b), rapports.push_back(a / b);
    }
    const double allocs_vue = static_cast<double>(tas_vue.appels - avant_vue.appels) / static_cast<double>(vue.size());
    const double allocs_plancher =
        static_cast<double>(tas_plancher.appels - avant_plancher.appels) / static_cast<double>(plan.size());
    std::printf("frame %d %d %ld %.3f %.3f %.4f %zu %.1f %.1f %ld %ld\n", p, z, quads, mediane(vue), mediane(plan),
                mediane(rapports), vue.size(), allocs_vue, allocs_plancher, cmp.allumes, cmp.differents);
    std::fflush(stdout);
}

// The fixed part of every frame: clear, transforms, flush and swap, with no quad.
void mesure_vide() {
    courant = plancher{};
    tas rien;
    std::vector<double> t;
    for (int i = 0; i < 200; ++i) t.push_back(image(rejoue_courant, rien));
    std::printf("empty %.3f\n", mediane(t));
}

void banc() {
    static bool fait = false;
    if (fait) return;
    fait = true;
    // The count must see this program's own allocations, or its zero for the renderer would mean nothing.
    const unsigned long long avant = allocations_propres();
    void *volatile m = std::malloc(16);
    std::free(m);
    int *volatile n = new int(1);
    delete n;
    if (allocations_propres() - avant != 2) {
        std::fprintf(stderr, "bench_frame: the allocation count misses this program's own calls\n");
        std::exit(1);
    }
    std::printf("renderer %s\n", reinterpret_cast<const char *>(glGetString(GL_RENDERER)));
    for (int p : {1, 2, 4, 8, 16}) mesure(p, 1);
    mesure(1, 1000);
    // Tops up the frames the allocation count covers, at pas 1.
    pas = 1, zoom = 1;
    courant = prepare();
    while (tas_vue.images < images_tas) image(affichage, tas_vue), image(rejoue_courant, tas_plancher);
    mesure_vide();
    // Input events: every command key but quit, and left and right drags, through the real callbacks.
    const char touches[] = "8246rmpolikuj";
    const unsigned long long avant_evenements = allocations();
    const long evenements = 100000;
    for (long i = 0; i < evenements; ++i) {
        clavier(static_cast<unsigned char>(touches[i % (sizeof touches - 1)]), 300, 300);
        mouse(i % 3 == 0 ? GLUT_LEFT_BUTTON : GLUT_RIGHT_BUTTON, i % 2 ? GLUT_UP : GLUT_DOWN, 300, 300);
        mousemotion(static_cast<int>(300 + i % 50), static_cast<int>(300 - i % 70));
    }
    std::printf("events %ld %llu\n", 3 * evenements, allocations() - avant_evenements);
    std::printf("allocs %llu %llu %llu %llu %llu\n", tas_vue.images, tas_vue.appels, tas_plancher.images,
                tas_plancher.appels, tas_vue.propres);
    std::fflush(stdout);
    std::exit(0);
}

}  // namespace

int main(int argc, char **argv) {
    const bool nu = argc == 2 && std::strcmp(argv[1], "--bare") == 0;
    if (argc < 2 || argc > 4 || (!nu && argv[1][0] == '-')) {
        std::fprintf(stderr,
                     "usage: bench_frame MAP [SECONDS_PER_CASE [ALLOC_FRAMES]]   times the renderer against its floor\n"
                     "       bench_frame --bare      the viewer's window and frames, with no map loaded\n");
        return 1;
    }
    if (argc >= 3) duree_min = std::atof(argv[2]);
    if (argc == 4) images_tas = std::strtoull(argv[3], nullptr, 10);
    if (!nu) {
        const charge ch = charge_terrain(argv[1]);
        if (ch.etat != charge_ok) {
            std::fprintf(stderr, "bench_frame: %s\n", ch.raison.c_str());
            return 1;
        }
    }
    // The window and GL state the viewer's start-up makes.
    int gargc = 1;
    char nom[] = "bench_frame";
    char *gargv[] = {nom, nullptr};
    ouvre_fenetre(&gargc, gargv);
    // Bare, it is the viewer less its map, for the start-up and memory baselines; otherwise the
    // first exposure runs the whole benchmark in the mapped window, then exits.
    glutDisplayFunc(nu ? affichage : banc);
    glutMainLoop();
    return 1;
}
