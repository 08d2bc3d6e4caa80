// Recording stand-in for the GL and GLUT calls the viewer makes: tests link it instead of the real libraries.
#pragma once

#include <vector>

enum class gl { clear, push, pop, scale, rotate, translate, begin, end, colour, vertex, flush, swap, redisplay, polygon_mode };

struct gl_call {
    gl f;
    double a[4];
};

extern std::vector<gl_call> gl_log;  // every call since the last clear, in order

// Number of calls of one kind.
int count_calls(gl f);
