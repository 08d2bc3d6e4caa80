// Command-line helpers: die(), the table-driven option parser and number parsing with their messages.
#include "common/cli.h"

#include "common/text.h"

#include <cerrno>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

const char *program = "mvx";

void die(const char *fmt, ...) {
    std::va_list ap, again;
    va_start(ap, fmt);
    va_copy(again, ap);
    const int n = std::vsnprintf(nullptr, 0, fmt, ap);
    std::string message(n > 0 ? static_cast<size_t>(n) : 0, '\0');
    std::vsnprintf(message.data(), message.size() + 1, fmt, again);
    va_end(again);
    va_end(ap);
    // The names in it are strangers' bytes: one line, whatever they hold.
    std::fprintf(stderr, "%s: %s\n", program, printable(message).c_str());
    std::exit(1);
}

void die(const Status &st) { die("%s", st.why.c_str()); }

Status parse_options(const char *command, int argc, char **argv, const std::vector<Option> &options,
                     const std::function<Status(const char *)> &operand, bool &help) {
    help = false;
    const std::string see = std::string(" (see ") + program + " " + command + " --help)";
    bool options_ended = false;
    for (int i = 0; i < argc; ++i) {
        const char *a = argv[i];
        if (options_ended) {
            if (Status st = operand(a); !st.ok) return st;
            continue;
        }
        if (!std::strcmp(a, "--")) {
            options_ended = true;
            continue;
        }
        if (!std::strcmp(a, "--help") || !std::strcmp(a, "-h")) {
            help = true;
            return {};
        }
        const Option *o = nullptr;
        for (const Option &c : options)
            if (!std::strcmp(a, c.name) || (c.alias && !std::strcmp(a, c.alias))) o = &c;
        if (!o) {
            if (a[0] == '-' && a[1]) return Status::fail(std::string(command) + ": unknown option '" + a + "'" + see);
            if (Status st = operand(a); !st.ok) return st;
            continue;
        }
        if (o->takes_value && i + 1 >= argc) return Status::fail(std::string(a) + " needs a value" + see);
        if (Status st = o->set(o->takes_value ? argv[++i] : nullptr); !st.ok) return st;
    }
    return {};
}

Option quiet_option(bool &quiet) {
    return {"-q", false, [&quiet](const char *) { quiet = true; return Status{}; }, "--quiet"};
}

Status parse_int(const char *opt, const char *text, long long lo, long long hi, long long &out) {
    const std::string range = " from " + std::to_string(lo) + " to " + std::to_string(hi);
    char *end = nullptr;
    errno = 0;
    const long long v = std::strtoll(text, &end, 10);
    if (!*text || *end || (errno && errno != ERANGE))
        return Status::fail(std::string(opt) + ": '" + text + "' is not a whole number" + range);
    if (errno == ERANGE || v < lo || v > hi)
        return Status::fail(std::string(opt) + ": " + text + " is out of range: it must be" + range);
    out = v;
    return {};
}

Status parse_u64(const char *opt, const char *text, uint64_t &out) {
    char *end = nullptr;
    errno = 0;
    const unsigned long long v = std::strtoull(text, &end, 10);
    if (!*text || *end || *text == '-' || *text == '+' || errno)
        return Status::fail(std::string(opt) + ": '" + text + "' is not a whole number from 0 to " +
                            std::to_string(UINT64_MAX));
    out = v;
    return {};
}

Status parse_real(const char *opt, const char *text, double &out) {
    char *end = nullptr;
    errno = 0;
    const double v = std::strtod(text, &end);
    if (!*text || *end || errno || !std::isfinite(v))
        return Status::fail(std::string(opt) + ": '" + text + "' is not a number");
    out = v;
    return {};
}

Status parse_reals(const char *opt, const char *text, char sep, size_t count, std::vector<double> &out) {
    out.clear();
    const std::string s = text;
    size_t start = 0;
    for (;;) {
        const size_t next = s.find(sep, start);
        double v = 0;
        if (Status st = parse_real(opt, s.substr(start, next - start).c_str(), v); !st.ok) return st;
        out.push_back(v);
        if (next == std::string::npos) break;
        start = next + 1;
    }
    if (out.size() != count)
        return Status::fail(std::string(opt) + ": '" + text + "' needs " + std::to_string(count) + " numbers separated by '" +
                            sep + "'");
    return {};
}
