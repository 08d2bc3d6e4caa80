// mvx view: the viewer on any map file, from any directory, through a private directory where the map is datas.mvx.
#pragma once

#include "common/io.h"

#include <string>

struct ViewOptions {
    std::string map = "datas.mvx";
};

extern const char view_summary[];
extern const char view_usage[];

// Options as `mvx view` takes them; `help` set on --help.
Status parse_view(int argc, char **argv, ViewOptions &o, bool &help);

// The viewer to run: `morvath` beside the running program `self` when it is there and executable,
// else the first on `path` (a PATH list); empty when there is none.
std::string find_viewer(const std::string &self, const std::string &path);

// Checks the map as `mvx info` does, then runs the viewer on it in a temporary directory holding
// only a link named datas.mvx to the map, and removes that directory once the viewer has ended.
// SIGINT, SIGTERM and SIGHUP are passed on to the viewer meanwhile. `status` gets the viewer's
// exit status, 128 + N when signal N ended it.
Status view_map(const ViewOptions &o, int &status);
