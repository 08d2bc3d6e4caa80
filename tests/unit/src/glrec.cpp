// Recording stand-in: each GL or GLUT entry point the viewer uses appends itself to the gl_log.
#include "tests/unit/src/glrec.h"

#include <GL/freeglut.h>

#include <algorithm>

std::vector<gl_call> gl_log;

int count_calls(gl f) {
    return static_cast<int>(std::count_if(gl_log.begin(), gl_log.end(), [f](const gl_call &c) { return c.f == f; }));
}

namespace {
void note(gl f, double a = 0, double b = 0, double c = 0, double d = 0) { gl_log.push_back({f, {a, b, c, d}}); }
}  // namespace

void glClear(GLbitfield m) { note(gl::clear, m); }
void glPushMatrix() { note(gl::push); }
void glPopMatrix() { note(gl::pop); }
void glScalef(GLfloat x, GLfloat y, GLfloat z) { note(gl::scale, x, y, z); }
void glRotatef(GLfloat a, GLfloat x, GLfloat y, GLfloat z) { note(gl::rotate, a, x, y, z); }
void glTranslatef(GLfloat x, GLfloat y, GLfloat z) { note(gl::translate, x, y, z); }
void glBegin(GLenum m) { note(gl::begin, m); }
void glEnd() { note(gl::end); }
void glColor3ub(GLubyte r, GLubyte g, GLubyte b) { note(gl::colour, r, g, b); }
void glVertex3i(GLint x, GLint y, GLint z) { note(gl::vertex, x, y, z); }
void glFlush() { note(gl::flush); }
void glPolygonMode(GLenum face, GLenum mode) { note(gl::polygon_mode, face, mode); }
void glutSwapBuffers() { note(gl::swap); }
void glutPostRedisplay() { note(gl::redisplay); }
