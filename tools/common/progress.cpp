// The progress line: a percentage rewritten in place, then "done".
#include "progress.h"

#include <chrono>
#include <cstdio>
#include <unistd.h>

namespace {

double now() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

}  // namespace

Progress::Progress(const char *what, long long total, bool quiet)
    : what_(what), total_(total), tty_(!quiet && isatty(2)), start_(now()) {}

void Progress::step(long long done) {
    if (!tty_ || total_ <= 0) return;
    const int pc = static_cast<int>(100 * done / total_);
    if (pc == shown_ || (shown_ < 0 && now() - start_ < 1.0)) return;
    shown_ = pc;
    std::fprintf(stderr, "\r%s: %3d%%", what_, pc);
    std::fflush(stderr);
}

void Progress::done() {
    if (tty_ && shown_ >= 0) std::fprintf(stderr, "\r%s: done\n", what_);
}
