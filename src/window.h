// Start-up's window and OpenGL state: the one window and the drawing state every frame relies on.
#pragma once

// Initialises the toolkit with the command line (it may take its own options), opens the 600 x 600
// window titled "Morvath" and sets the viewport, the orthographic mapping at the base of the
// model-view stack, the clear colour, the depth test and back-face culling.
void open_window(int *argc, char **argv);
