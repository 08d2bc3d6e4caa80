// Start-up: loads the map, opens the window with its OpenGL state and hands over to the event loop.
#include "input.h"
#include "terrain.h"
#include "view.h"

#include <GL/freeglut.h>
#include <cstdio>

int main(int argc, char **argv) {
    // The whole map is in memory before the window opens; a map that cannot be read stops us here.
    const charge ch = charge_terrain();
    if (ch.etat == charge_echec) {
        std::fprintf(stderr, "morvath: %s (make one with: mvx generate)\n", ch.raison.c_str());
        return 1;
    }
    if (ch.etat == charge_court) std::fprintf(stderr, "morvath: warning: %s\n", ch.raison.c_str());

    glutInit(&argc, argv);
    glutInitDisplayMode(GLUT_DOUBLE | GLUT_RGBA | GLUT_DEPTH);
    glutInitWindowPosition(0, 0);
    glutInitWindowSize(600, 600);
    glutCreateWindow("Morvath");
    glViewport(0, 0, 600, 600);
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    glClearColor(0, 0, 0, 0);
    // The orthographic mapping sits at the base of the model-view stack; bottom 75 and top -75
    // make y grow downwards, so grid rows run down the window.
    glOrtho(-75, 75, 75, -75, -600, 600);
    glEnable(GL_DEPTH_TEST);
    glCullFace(GL_BACK);
    glEnable(GL_CULL_FACE);
    glutDisplayFunc(affichage);
    glutKeyboardFunc(clavier);
    glutMouseFunc(mouse);
    glutMotionFunc(mousemotion);
    glutMainLoop();
    return 0;
}
