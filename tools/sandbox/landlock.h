// Landlock: the files a process may still read, and nothing it may write, create or connect to, from now on.
#pragma once

#include "common/io.h"

#include <string>
#include <vector>

// The Landlock ABI this kernel offers: 0 when it has none (before Linux 5.13, or not enabled).
int landlock_abi();

// From now on this process and its future threads and children may read only `readable` (files,
// and folders with everything below them; a name that does not exist is left out), and may write, truncate, create, remove or rename nothing, anywhere:
// files opened before stay as they were. With ABI 4 and later TCP bind and connect are denied too;
// with ABI 6 and later signals and abstract Unix sockets reach no process outside. `abi` gets the
// ABI in force (0: none, and the status says why not when the kernel has Landlock but refused).
Status restrict_to(const std::vector<std::string> &readable, int &abi);

// What Landlock gives at `abi`, for --version and notes: "files", "files and TCP", ...
std::string landlock_layers(int abi);
