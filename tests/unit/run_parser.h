// Runs a command's option parser on argument strings, as the tests of each command's options do.
#pragma once

#include "common/io.h"

#include <functional>
#include <string>
#include <vector>

using Parser = std::function<Status(int, char **, bool &)>;

// The status `parse` returns for `args` (the command's name left out); `help` set on --help.
inline Status run_parser(const Parser &parse, std::vector<std::string> args, bool &help) {
    std::vector<char *> argv;
    for (std::string &a : args) argv.push_back(a.data());
    return parse(static_cast<int>(argv.size()), argv.data(), help);
}
