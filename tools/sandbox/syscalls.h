// System calls a process of mvx gives up, through a seccomp filter the kernel enforces.
#pragma once

#include "common/io.h"

// From now on socket() for IPv4 and IPv6 fails with EACCES in every thread of the process, so
// that nothing GDAL or a library under it does can reach a server, whatever the name. Where the
// kernel has no seccomp, nothing changes and the gate's name checks remain. For mvx itself, before
// GDAL starts: never in a process that needs sockets (the tests).
void forbid_internet();

// For a process that only reads (the reader of an import), from now on: no sockets of any family,
// no new programs (execve) or processes (threads stay), no tracing or reading of other processes'
// memory, no signals to other processes, no keys, mounts, namespaces, BPF, io_uring or terminal
// input injection. Each fails with EPERM (sockets EACCES), so that a library sees an error, not a
// killed process. `enforced` tells whether the kernel took the filter.
Status confine_syscalls(bool &enforced);
