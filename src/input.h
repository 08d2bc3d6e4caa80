// Keyboard commands and mouse drags: they change the view parameters and ask for a redisplay.
#pragma once

extern unsigned char presse_g;  // left button held, 0 or 1
extern unsigned char presse_d;  // right button held, 0 or 1
extern int xold;                // pointer x at the latest press or drag event, window pixels
extern int yold;                // pointer y at the latest press or drag event, window pixels

void clavier(unsigned char key, int x, int y);
void mouse(int button, int state, int x, int y);
void mousemotion(int x, int y);
