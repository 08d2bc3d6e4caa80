// Start-up: loads the map, opens the window with its OpenGL state and hands over to the event loop.
#include "src/input.h"
#include "src/terrain.h"
#include "src/view.h"
#include "src/window.h"

#include <GL/freeglut.h>
#include <cstdio>

int main(int argc, char **argv) {
    // The whole map is in memory before the window opens; a map that cannot be read stops us here.
    const load_result loaded = charge_terrain();
    if (loaded.state == load_failed) {
        std::fprintf(stderr, "morvath: %s (make one with: mvx generate)\n", loaded.reason.c_str());
        return 1;
    }
    if (loaded.state == load_short) std::fprintf(stderr, "morvath: warning: %s\n", loaded.reason.c_str());

    open_window(&argc, argv);
    glutDisplayFunc(affichage);
    glutKeyboardFunc(clavier);
    glutMouseFunc(mouse);
    glutMotionFunc(mousemotion);
    glutMainLoop();
    return 0;
}
