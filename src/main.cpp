// Start-up: loads the map, opens the window with its OpenGL state and hands over to the event loop.
#include "fenetre.h"
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

    ouvre_fenetre(&argc, argv);
    glutDisplayFunc(affichage);
    glutKeyboardFunc(clavier);
    glutMouseFunc(mouse);
    glutMotionFunc(mousemotion);
    glutMainLoop();
    return 0;
}
