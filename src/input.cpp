// Input callbacks: the key commands and the mouse drags that turn, tilt and scale the terrain.
#include "src/input.h"

#include "src/view.h"

#include <GL/freeglut.h>
#include <climits>
#include <cstdio>
#include <cstdlib>

unsigned char presse_g = 0;  // left button held, 0 or 1
unsigned char presse_d = 0;  // right button held, 0 or 1
int xold = 0;                // pointer x at the latest press or drag event, window pixels
int yold = 0;                // pointer y at the latest press or drag event, window pixels

namespace {

// Held keys and long drags can push a value past what an int holds; stop at the end instead of wrapping.
int saturate(long long v) { return v > INT_MAX ? INT_MAX : v < INT_MIN ? INT_MIN : static_cast<int>(v); }

int clamp(long long v, int lo, int hi) { return v < lo ? lo : v > hi ? hi : static_cast<int>(v); }

// One press pans 10 view units, that is 10 × zoom grid cells.
long long pan() { return 10LL * zoom; }

}  // namespace

void clavier(unsigned char key, int, int) {
    switch (key) {
    case '8': ydeb = clamp(ydeb - pan(), 0, INT_MAX); break;             // up
    case '2': ydeb = clamp(ydeb + pan(), INT_MIN, 4095); break;          // down
    case '4': xdeb = clamp(xdeb - pan(), 0, INT_MAX); break;             // left
    case '6': xdeb = clamp(xdeb + pan(), INT_MIN, 6143); break;          // right
    case 'r':                                                            // reset all but the position
        pas = 1, zoom = 1, anglex = 0, angley = 0, dist = 100, hauteur = -10;
        break;
    case 'm': pas = pas * 2 > 16 ? 16 : pas * 2; break;                   // coarser mesh
    case 'p': pas = pas / 2 <= 0 ? 1 : pas / 2; break;                    // finer mesh
    case 'o': hauteur = saturate(hauteur - 10LL); break;                    // terrain down
    case 'l': hauteur = saturate(hauteur + 10LL); break;                    // terrain up
    case 'i': zoom = zoom - 1 <= 0 ? 1 : zoom - 1; break;                 // fewer cells per unit
    case 'k': zoom = saturate(zoom + 1LL); break;                           // more cells per unit
    case 'u': glPolygonMode(GL_FRONT, GL_FILL); break;                    // filled
    case 'j': glPolygonMode(GL_FRONT, GL_LINE); break;                    // wire-frame
    case 'q':
    case 27: std::exit(0);                                                // quit (q or Escape)
    default:
        std::fprintf(stderr, "Catch! %d\n", key);
        return;
    }
    glutPostRedisplay();
}

void mouse(int button, int state, int x, int y) {
    if (button == GLUT_LEFT_BUTTON && state == GLUT_DOWN) presse_g = 1, xold = x, yold = y;
    if (button == GLUT_LEFT_BUTTON && state == GLUT_UP) presse_g = 0;
    if (button == GLUT_RIGHT_BUTTON && state == GLUT_DOWN) presse_d = 1, xold = x, yold = y;
    if (button == GLUT_RIGHT_BUTTON && state == GLUT_UP) presse_d = 0;
}

void mousemotion(int x, int y) {
    if (presse_g) {
        anglex = saturate(anglex + (static_cast<long long>(x) - xold));
        angley = saturate(angley + (static_cast<long long>(y) - yold));
        glutPostRedisplay();
    } else if (presse_d) {
        dist = clamp(dist - (static_cast<long long>(y) - yold), 1, INT_MAX);
        glutPostRedisplay();
    }
    xold = x;
    yold = y;
}
