// Keyboard commands and mouse drags: they change the view parameters and ask for a redisplay.
#pragma once

// The mouse state (meaning where it is defined, in input.cpp).
extern unsigned char presse_g, presse_d;
extern int xold, yold;

void clavier(unsigned char key, int x, int y);
void mouse(int button, int state, int x, int y);
void mousemotion(int x, int y);
