// shot: reads a window of an X display; saves it as PNG, prints chosen pixels or a checksum.
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <png.h>
// Xlib names its return type Status, as the tools name theirs.
#undef Status
#include "common/cli.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

const char usage[] =
    "usage: shot [-w WINDOW] [-o FILE.png] [--sum] [X,Y ...]\n"
    "\n"
    "Reads the window WINDOW (an X window id, decimal or 0x hex; default the root window)\n"
    "of $DISPLAY. -o saves it as an RGB PNG; --sum prints a checksum of its pixels;\n"
    "each X,Y prints that pixel as 'R G B' on a line of its own.\n";

int x_error(Display *d, XErrorEvent *e) {
    char text[256];
    XGetErrorText(d, e->error_code, text, sizeof text);
    die("X error: %s", text);
}

int shift_of(unsigned long mask) {
    int s = 0;
    while (mask && !(mask & 1)) mask >>= 1, ++s;
    return s;
}

// Written through a temporary file, so a reader never sees half a picture.
void save_png(const char *path, int w, int h, const std::vector<uint8_t> &rgb) {
    const Status st = write_atomic(path, [&](int fd) {
        FILE *f = fdopen(dup(fd), "wb");
        if (!f) return false;
        png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
        png_infop info = png ? png_create_info_struct(png) : nullptr;
        if (!info || setjmp(png_jmpbuf(png))) {
            png_destroy_write_struct(&png, &info);
            std::fclose(f);
            errno = EIO;
            return false;
        }
        png_init_io(png, f);
        png_set_IHDR(png, info, w, h, 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                     PNG_FILTER_TYPE_DEFAULT);
        png_write_info(png, info);
        for (int y = 0; y < h; ++y) png_write_row(png, const_cast<uint8_t *>(&rgb[3 * y * static_cast<size_t>(w)]));
        png_write_end(png, nullptr);
        png_destroy_write_struct(&png, &info);
        return std::fclose(f) == 0;
    });
    if (!st.ok) die(st);
}

// What the command line asks for.
struct Options {
    const char *out = nullptr, *window = nullptr;
    bool sum = false;
    std::vector<std::pair<int, int>> points;
};

// The command line as Options; --help prints the usage and exits.
Options parse(int argc, char **argv) {
    Options o;
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--help") || !std::strcmp(argv[i], "-h")) {
            std::fputs(usage, stdout);
            std::exit(0);
        } else if (!std::strcmp(argv[i], "-o") && i + 1 < argc) {
            o.out = argv[++i];
        } else if (!std::strcmp(argv[i], "-w") && i + 1 < argc) {
            o.window = argv[++i];
        } else if (!std::strcmp(argv[i], "--sum")) {
            o.sum = true;
        } else {
            int x, y;
            char tail;
            if (std::sscanf(argv[i], "%d,%d%c", &x, &y, &tail) != 2) die("bad argument '%s' (see shot --help)", argv[i]);
            o.points.emplace_back(x, y);
        }
    }
    return o;
}

// The pixels of window `window` (an id; null: the root window) of $DISPLAY as RGB, and its size.
std::vector<uint8_t> read_window(const char *window, int &w, int &h) {
    Display *d = XOpenDisplay(nullptr);
    if (!d) die("cannot open display '%s'", std::getenv("DISPLAY") ? std::getenv("DISPLAY") : "");
    XSetErrorHandler(x_error);
    Window win = DefaultRootWindow(d);
    if (window) {
        char *end;
        win = std::strtoul(window, &end, 0);
        if (*end || !win) die("bad window id '%s'", window);
    }
    XWindowAttributes at;
    XGetWindowAttributes(d, win, &at);
    XImage *img = XGetImage(d, win, 0, 0, at.width, at.height, AllPlanes, ZPixmap);
    if (!img) die("cannot read window %s", window ? window : "root");
    const int rs = shift_of(img->red_mask), gs = shift_of(img->green_mask), bs = shift_of(img->blue_mask);
    std::vector<uint8_t> rgb(3 * static_cast<size_t>(at.width) * at.height);
    for (int y = 0; y < at.height; ++y)
        for (int x = 0; x < at.width; ++x) {
            const unsigned long p = XGetPixel(img, x, y);
            uint8_t *q = &rgb[3 * (static_cast<size_t>(y) * at.width + x)];
            q[0] = static_cast<uint8_t>((p & img->red_mask) >> rs);
            q[1] = static_cast<uint8_t>((p & img->green_mask) >> gs);
            q[2] = static_cast<uint8_t>((p & img->blue_mask) >> bs);
        }
    XDestroyImage(img);
    XCloseDisplay(d);
    w = at.width, h = at.height;
    return rgb;
}

}  // namespace

int main(int argc, char **argv) {
    program = "shot";
    const Options o = parse(argc, argv);
    int w = 0, h = 0;
    const std::vector<uint8_t> rgb = read_window(o.window, w, h);
    for (auto [x, y] : o.points) {
        if (x < 0 || y < 0 || x >= w || y >= h) die("pixel %d,%d is outside the %dx%d window", x, y, w, h);
        const uint8_t *q = &rgb[3 * (static_cast<size_t>(y) * w + x)];
        std::printf("%d %d %d\n", q[0], q[1], q[2]);
    }
    if (o.sum) {
        uint64_t sum = 1469598103934665603ULL;
        for (uint8_t c : rgb) sum = (sum ^ c) * 1099511628211ULL;
        std::printf("%016llx\n", static_cast<unsigned long long>(sum));
    }
    if (o.out) save_png(o.out, w, h, rgb);
    return 0;
}
