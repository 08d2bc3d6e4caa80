// Reading files safely, for the viewer's loader and the tools: a regular file opened without blocking, read fully.
#pragma once

#include <string>
#include <sys/types.h>

// Opens `name` for reading and gives its size. Returns the descriptor; -1 when it cannot be opened
// (`reason` "cannot open: <cause>"); -2 when it is not a regular file (`reason` says what it is,
// "a FIFO", "a directory", ...): a FIFO without a writer or a device is refused, never waited on.
int open_regular(const char *name, long long &size, std::string &reason);

// Opens a map file as open_regular does, and also refuses one the kernel shows rather than holds:
// under /proc, /sys or /dev (after links), or on the proc or sysfs file system wherever it is
// mounted. Such a file says it has 0 bytes, or 4096, and reads as whatever the kernel says.
// Returns -3 then, `reason` being the directory ("/proc"). The one rule for every reader of maps:
// the viewer, and mvx's info, export and view.
int open_map_file(const char *name, long long &size, std::string &reason);

// What a file that is not a regular one is, for messages: "a FIFO", "a directory", ...
const char *file_kind(mode_t mode);

// Reads up to n bytes into dest, retrying interrupted reads; fewer only at the end of the file.
// Returns the bytes read, or -1 with errno set.
long long read_full(int fd, void *dest, long long n);
