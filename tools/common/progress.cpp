// The progress line: a percentage and the time left, rewritten in place, then "done".
#include "common/progress.h"

#include <chrono>
#include <cmath>
#include <cstdio>
#include <unistd.h>

namespace {

double now() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

}  // namespace

std::string time_left(double elapsed, double fraction) {
    if (!(elapsed >= 3 && fraction >= 0.02 && fraction < 1)) return "";
    // Rounded to a step that suits the wait: seconds, then tens of seconds, then minutes.
    const double left = elapsed * (1 - fraction) / fraction;
    const long long s = left < 60 ? static_cast<long long>(std::ceil(left)) : left < 600 ? 10 * std::llround(left / 10)
                                                                                         : 60 * std::llround(left / 60);
    std::string t = "about ";
    if (s >= 3600) t += std::to_string(s / 3600) + " h " + std::to_string(s / 60 % 60) + " min";
    else if (s >= 60) t += std::to_string(s / 60) + " min" + (s % 60 ? " " + std::to_string(s % 60) + " s" : "");
    else t += std::to_string(s) + " s";
    return t + " left";
}

Progress::Progress(const char *what, long long total, bool quiet)
    : what_(what), total_(total), tty_(!quiet && isatty(2)), start_(now()) {}

void Progress::step(long long done) {
    if (!tty_ || total_ <= 0) return;
    const int pc = static_cast<int>(100 * done / total_);
    if (pc == shown_ || (shown_ < 0 && now() - start_ < 1.0)) return;
    shown_ = pc;
    const std::string left = time_left(now() - start_, static_cast<double>(done) / total_);
    // Padded, to cover a longer line before it.
    std::fprintf(stderr, "\r%s: %3d%%%-32s", what_, pc, left.empty() ? "" : (", " + left).c_str());
    std::fflush(stderr);
}

void Progress::done() {
    if (tty_ && shown_ >= 0) std::fprintf(stderr, "\r%s: done%-34s\n", what_, "");
}
