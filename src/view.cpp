// Renderer: draws the 150 × 150-unit patch of the grid as a coloured relief mesh.
#include "src/view.h"

#include "src/terrain.h"

#include <GL/freeglut.h>

int xdeb = start_xdeb;  // grid column at the view's left edge, 0 … 6143
int ydeb = start_ydeb;  // grid row at the view's top edge, 0 … 4095
int pas = 1;             // mesh step, view units per quad, 1 … 16
int zoom = 1;            // grid cells per view unit, 1 … INT_MAX
int anglex = 0;          // turn about the terrain's z axis, degrees (applied negated)
int angley = 0;          // tilt about the x axis, degrees (applied negated)
int dist = 100;          // viewing distance, 1 … INT_MAX; the scale is 100 / dist
int hauteur = -10;       // shift along the terrain's z axis, view units

namespace {

// z of each height level at the current zoom, indexed by level + 128.
using level_z = int[256];

inline void vertex(map_cell c, int x, int y, const level_z &z) {
    glColor3ub(couleur_r(c.colour), couleur_g(c.colour), couleur_b(c.colour));
    glVertex3i(x, y, z[c.h + 128]);
}

}  // namespace

void affichage() {
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    glPushMatrix();
    glScalef(static_cast<float>(100.0 / dist), static_cast<float>(100.0 / dist), static_cast<float>(100.0 / dist));
    // Negated as floats: the angles may sit at INT_MIN after long drags.
    glRotatef(-static_cast<float>(angley), 1, 0, 0);
    glRotatef(-static_cast<float>(anglex), 0, 0, 1);
    glTranslatef(0, 0, static_cast<float>(hauteur));

    // Integer divisions truncate toward zero, so heights -1 and -2 both sit at z = 0. Worked out
    // once a frame for every level: a division by zoom at each vertex was most of our share of a frame.
    level_z z;
    for (int h = -128; h < 128; ++h) z[h + 128] = h / 3 / zoom;

    // 64-bit grid positions: zoom has no upper limit, so the patch can reach far past the grid.
    const long long d = static_cast<long long>(pas) * zoom;
    const long long end_x = xdeb + static_cast<long long>(patch_side) * zoom;
    const long long end_y = ydeb + static_cast<long long>(patch_side) * zoom;
    int y0 = -patch_side / 2;
    for (long long yc = ydeb; yc < end_y; yc += d, y0 += pas) {
        int x0 = -patch_side / 2;
        for (long long xc = xdeb; xc < end_x; xc += d, x0 += pas) {
            // Corners A, B, C, D: counter-clockwise on screen, so the upper side is the front face.
            const map_cell sa = lit_cellule(xc + d, yc);
            const map_cell sb = lit_cellule(xc, yc);
            const map_cell sc = lit_cellule(xc, yc + d);
            const map_cell sd = lit_cellule(xc + d, yc + d);
            glBegin(GL_POLYGON);
            vertex(sa, x0 + pas, y0, z);
            vertex(sb, x0, y0, z);
            vertex(sc, x0, y0 + pas, z);
            vertex(sd, x0 + pas, y0 + pas, z);
            glEnd();
        }
    }

    glPopMatrix();
    glFlush();
    glutSwapBuffers();
}
