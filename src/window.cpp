// Start-up's window and OpenGL state, shared by the viewer and its frame benchmark.
#include "src/window.h"

#include <GL/freeglut.h>

void open_window(int *argc, char **argv) {
    glutInit(argc, argv);
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
}
