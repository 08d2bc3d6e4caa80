// The tools' command lines: one exit point for failures, options parsed from a table, checked numbers.
#pragma once

#include "common/io.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// The program name that messages start with ("mvx", "shot").
extern const char *program;

// Prints "PROGRAM: message" on standard error, control characters escaped (see printable), and
// exits with status 1.
[[noreturn]] void die(const char *fmt, ...) __attribute__((format(printf, 1, 2)));
[[noreturn]] void die(const Status &st);

// One option of a command: its name, whether a value follows it, and what to do with that value.
struct Option {
    const char *name;  // "-o", "--seed"
    bool takes_value;
    std::function<Status(const char *value)> set;
    const char *alias = nullptr;  // another name for it ("--quiet" for "-q")
};

// -q, --quiet: sets `quiet`, for commands that then print nothing unless they fail.
Option quiet_option(bool &quiet);

// Parses a command's arguments (after the command name): table options, and the rest given to
// `operand`; after "--" every argument is an operand, even one that starts with '-' (a file named
// "-o" among tiles). Sets `help` on --help or -h and stops there. Failures name the option, and end
// with a pointer to "PROGRAM COMMAND --help".
Status parse_options(const char *command, int argc, char **argv, const std::vector<Option> &options,
                     const std::function<Status(const char *)> &operand, bool &help);

// A whole number from lo to hi, or a failure saying so ("--scale: 'abc' is not a whole number from 1 to 4096").
Status parse_int(const char *opt, const char *text, long long lo, long long hi, long long &out);
Status parse_u64(const char *opt, const char *text, uint64_t &out);
// A finite number.
Status parse_real(const char *opt, const char *text, double &out);
// Numbers separated by `sep` ("1,2,3", "5:10"): exactly `count` of them.
Status parse_reals(const char *opt, const char *text, char sep, size_t count, std::vector<double> &out);
