// Key commands and mouse drags: what each changes, its clamps, and what it leaves alone.
#include "src/input.h"
#include "src/view.h"
#include "tests/unit/src/glrec.h"

#include <GL/gl.h>
#include <GL/freeglut.h>
#include <gtest/gtest.h>

#include <climits>
#include <string>

namespace {

struct view_state {
    int xdeb, ydeb, pas, zoom, anglex, angley, dist, hauteur;
    bool operator==(const view_state &o) const {
        return xdeb == o.xdeb && ydeb == o.ydeb && pas == o.pas && zoom == o.zoom && anglex == o.anglex &&
               angley == o.angley && dist == o.dist && hauteur == o.hauteur;
    }
};

std::ostream &operator<<(std::ostream &s, const view_state &v) {
    return s << "{xdeb " << v.xdeb << ", ydeb " << v.ydeb << ", pas " << v.pas << ", zoom " << v.zoom << ", anglex "
             << v.anglex << ", angley " << v.angley << ", dist " << v.dist << ", hauteur " << v.hauteur << "}";
}

const view_state initial = {1294, 1552, 1, 1, 0, 0, 100, -10};

void set_view(const view_state &v) {
    xdeb = v.xdeb, ydeb = v.ydeb, pas = v.pas, zoom = v.zoom;
    anglex = v.anglex, angley = v.angley, dist = v.dist, hauteur = v.hauteur;
}
view_state current_view() { return {xdeb, ydeb, pas, zoom, anglex, angley, dist, hauteur}; }

class Input : public ::testing::Test {
protected:
    void SetUp() override {
        set_view(initial);
        presse_g = presse_d = 0, xold = yold = 0;
        gl_log.clear();
    }
};

// Starting state, key, resulting state.
struct key_case {
    view_state before;
    unsigned char key;
    view_state after;
};

view_state with(view_state v, int view_state::*field, int value) {
    v.*field = value;
    return v;
}

TEST_F(Input, EachCommandChangesItsParameterAndClamps) {
    const view_state i = initial;
    const key_case table[] = {
        {i, '6', with(i, &view_state::xdeb, 1304)},
        {with(i, &view_state::zoom, 3), '6', {1324, 1552, 1, 3, 0, 0, 100, -10}},
        {with(i, &view_state::xdeb, 6140), '6', with(i, &view_state::xdeb, 6143)},
        {i, '4', with(i, &view_state::xdeb, 1284)},
        {with(i, &view_state::xdeb, 3), '4', with(i, &view_state::xdeb, 0)},
        {i, '8', with(i, &view_state::ydeb, 1542)},
        {with(i, &view_state::ydeb, 5), '8', with(i, &view_state::ydeb, 0)},
        {i, '2', with(i, &view_state::ydeb, 1562)},
        {{1294, 4090, 1, 2, 0, 0, 100, -10}, '2', {1294, 4095, 1, 2, 0, 0, 100, -10}},
        {i, 'm', with(i, &view_state::pas, 2)},
        {with(i, &view_state::pas, 8), 'm', with(i, &view_state::pas, 16)},
        {with(i, &view_state::pas, 16), 'm', with(i, &view_state::pas, 16)},
        {with(i, &view_state::pas, 16), 'p', with(i, &view_state::pas, 8)},
        {with(i, &view_state::pas, 3), 'p', with(i, &view_state::pas, 1)},
        {i, 'p', i},
        {i, 'o', with(i, &view_state::hauteur, -20)},
        {i, 'l', with(i, &view_state::hauteur, 0)},
        {i, 'k', with(i, &view_state::zoom, 2)},
        {with(i, &view_state::zoom, 5), 'i', with(i, &view_state::zoom, 4)},
        {i, 'i', i},
        {{17, 23, 8, 4, 33, -12, 7, 50}, 'r', {17, 23, 1, 1, 0, 0, 100, -10}},
        // At the ends of int: saturate rather than wrap.
        {with(i, &view_state::zoom, INT_MAX), 'k', with(i, &view_state::zoom, INT_MAX)},
        {{100, 100, 1, INT_MAX, 0, 0, 100, -10}, '6', {6143, 100, 1, INT_MAX, 0, 0, 100, -10}},
        {{100, 100, 1, INT_MAX, 0, 0, 100, -10}, '4', {0, 100, 1, INT_MAX, 0, 0, 100, -10}},
        {{100, 100, 1, INT_MAX, 0, 0, 100, -10}, '2', {100, 4095, 1, INT_MAX, 0, 0, 100, -10}},
        {{100, 100, 1, INT_MAX, 0, 0, 100, -10}, '8', {100, 0, 1, INT_MAX, 0, 0, 100, -10}},
        {with(i, &view_state::hauteur, INT_MAX - 3), 'l', with(i, &view_state::hauteur, INT_MAX)},
        {with(i, &view_state::hauteur, INT_MIN + 3), 'o', with(i, &view_state::hauteur, INT_MIN)},
    };
    for (const key_case &t : table) {
        set_view(t.before);
        gl_log.clear();
        clavier(t.key, 300, 300);
        EXPECT_EQ(current_view(), t.after) << "key '" << t.key << "' from " << t.before;
        EXPECT_EQ(count_calls(gl::redisplay), 1) << t.key;
    }
}

TEST_F(Input, StepAndStrideWalkTheirRanges) {
    const int coarser[] = {2, 4, 8, 16, 16}, finer[] = {8, 4, 2, 1, 1};
    for (int p : coarser) {
        clavier('m', 0, 0);
        EXPECT_EQ(pas, p);
    }
    for (int p : finer) {
        clavier('p', 0, 0);
        EXPECT_EQ(pas, p);
    }
    for (int z = 2; z < 1000; ++z) clavier('k', 0, 0);
    EXPECT_EQ(zoom, 999);
}

TEST_F(Input, PolygonModeKeysSetFrontFacesOnlyAndResetKeepsThem) {
    clavier('j', 0, 0);
    clavier('r', 0, 0);
    clavier('u', 0, 0);
    std::vector<gl_call> modes;
    for (const gl_call &c : gl_log)
        if (c.f == gl::polygon_mode) modes.push_back(c);
    ASSERT_EQ(modes.size(), 2u);
    EXPECT_EQ(modes[0].a[0], GL_FRONT);
    EXPECT_EQ(modes[0].a[1], GL_LINE);
    EXPECT_EQ(modes[1].a[0], GL_FRONT);
    EXPECT_EQ(modes[1].a[1], GL_FILL);
    EXPECT_EQ(count_calls(gl::redisplay), 3);
    EXPECT_EQ(current_view(), initial);
}

TEST_F(Input, EveryOtherCodeWritesOneCatchLineAndChangesNothing) {
    const std::string commands = "8246rmpolikuj";
    int diagnostics = 0;
    for (int k = 0; k < 256; ++k) {
        if (k == 'q' || k == 27 || commands.find(static_cast<char>(k)) != std::string::npos) continue;
        set_view({10, 20, 4, 3, 5, 6, 70, 8});
        gl_log.clear();
        testing::internal::CaptureStderr();
        clavier(static_cast<unsigned char>(k), 1, 2);
        const std::string err = testing::internal::GetCapturedStderr();
        EXPECT_EQ(err, "Catch! " + std::to_string(k) + "\n");
        EXPECT_EQ(current_view(), (view_state{10, 20, 4, 3, 5, 6, 70, 8})) << k;
        EXPECT_TRUE(gl_log.empty()) << "key " << k << " made a GL or GLUT call";
        ++diagnostics;
    }
    EXPECT_EQ(diagnostics, 256 - 15);
}

TEST_F(Input, UpperCaseIsNotTheCommand) {
    const std::pair<unsigned char, const char *> table[] = {{'R', "Catch! 82\n"}, {'Q', "Catch! 81\n"}, {' ', "Catch! 32\n"},
                                                            {'M', "Catch! 77\n"}, {'5', "Catch! 53\n"}, {255, "Catch! 255\n"}};
    for (auto [k, line] : table) {
        testing::internal::CaptureStderr();
        clavier(k, 0, 0);
        EXPECT_EQ(testing::internal::GetCapturedStderr(), line);
    }
}

TEST(InputQuit, QAndEscapeEndTheProcessWithStatusZero) {
    EXPECT_EXIT(clavier('q', 0, 0), testing::ExitedWithCode(0), "");
    EXPECT_EXIT(clavier(27, 0, 0), testing::ExitedWithCode(0), "");
}

// A mouse event: a button change, or a motion when button < 0.
struct mouse_event {
    int button, state, x, y;
};
constexpr int motion = -1;

struct gesture {
    const char *name;
    std::vector<mouse_event> events;
    int anglex, angley, dist, redisplays, xold, yold;
};

TEST_F(Input, DragsTurnTiltAndScale) {
    const int D = GLUT_DOWN, U = GLUT_UP, L = GLUT_LEFT_BUTTON, M = GLUT_MIDDLE_BUTTON, R = GLUT_RIGHT_BUTTON;
    const gesture table[] = {
        {"left drag turns and tilts", {{L, D, 300, 300}, {motion, 0, 310, 295}}, 10, -5, 100, 1, 310, 295},
        {"right drag down enlarges", {{R, D, 300, 300}, {motion, 0, 300, 350}}, 0, 0, 50, 1, 300, 350},
        {"right drag clamps dist at 1", {{R, D, 300, 300}, {motion, 0, 300, 350}, {motion, 0, 300, 400}}, 0, 0, 1, 2, 300, 400},
        {"right drag up shrinks", {{R, D, 300, 300}, {motion, 0, 300, 200}}, 0, 0, 200, 1, 300, 200},
        {"right drag ignores x", {{R, D, 300, 300}, {motion, 0, 500, 300}}, 0, 0, 100, 1, 500, 300},
        {"left wins when both are held",
         {{R, D, 300, 300}, {L, D, 300, 300}, {motion, 0, 320, 310}, {L, U, 320, 310}, {motion, 0, 320, 330}},
         20, 10, 80, 2, 320, 330},
        {"middle drag changes nothing but follows", {{M, D, 300, 300}, {motion, 0, 350, 350}}, 0, 0, 100, 0, 350, 350},
        {"wheel buttons change nothing",
         {{3, D, 1, 1}, {4, D, 2, 2}, {5, U, 3, 3}, {6, D, 4, 4}, {7, U, 5, 5}, {motion, 0, 9, 9}}, 0, 0, 100, 0, 9, 9},
        {"release of a button never pressed", {{L, U, 5, 5}, {R, U, 6, 6}, {motion, 0, 50, 50}}, 0, 0, 100, 0, 50, 50},
        {"after release nothing turns", {{L, D, 0, 0}, {L, U, 0, 0}, {motion, 0, 40, 40}}, 0, 0, 100, 0, 40, 40},
        {"motion is measured from the press", {{motion, 0, 100, 100}, {L, D, 200, 200}, {motion, 0, 201, 202}}, 1, 2, 100, 1, 201, 202},
        {"dragging outside the window", {{L, D, 10, 10}, {motion, 0, -90, -40}}, -100, -50, 100, 1, -90, -40},
        {"huge drags saturate", {{L, D, INT_MIN, INT_MAX}, {motion, 0, INT_MAX, INT_MIN}, {motion, 0, INT_MIN, INT_MAX}, {motion, 0, INT_MAX, INT_MIN}},
         INT_MAX, INT_MIN, 100, 3, INT_MAX, INT_MIN},
    };
    for (const gesture &g : table) {
        SetUp();
        for (const mouse_event &e : g.events) {
            if (e.button == motion) mousemotion(e.x, e.y);
            else mouse(e.button, e.state, e.x, e.y);
        }
        EXPECT_EQ(anglex, g.anglex) << g.name;
        EXPECT_EQ(angley, g.angley) << g.name;
        EXPECT_EQ(dist, g.dist) << g.name;
        EXPECT_EQ(count_calls(gl::redisplay), g.redisplays) << g.name;
        EXPECT_EQ(xold, g.xold) << g.name;
        EXPECT_EQ(yold, g.yold) << g.name;
    }
}

TEST_F(Input, PressAndReleaseSetFlagsOnlyForTheirButton) {
    mouse(GLUT_LEFT_BUTTON, GLUT_DOWN, 1, 2);
    EXPECT_EQ(presse_g, 1);
    EXPECT_EQ(presse_d, 0);
    mouse(GLUT_RIGHT_BUTTON, GLUT_DOWN, 3, 4);
    EXPECT_EQ(presse_d, 1);
    EXPECT_EQ(xold, 3);
    EXPECT_EQ(yold, 4);
    mouse(GLUT_LEFT_BUTTON, GLUT_UP, 9, 9);
    EXPECT_EQ(presse_g, 0);
    EXPECT_EQ(presse_d, 1);
    EXPECT_EQ(xold, 3);  // a release does not move the reference point
    EXPECT_TRUE(gl_log.empty());
}

}  // namespace
