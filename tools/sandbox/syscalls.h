// System calls a process of mvx gives up, through a seccomp filter the kernel enforces.
#pragma once

// From now on socket() for IPv4 and IPv6 fails with EACCES in every thread of the process, so
// that nothing GDAL or a library under it does can reach a server, whatever the name. Where the
// kernel has no seccomp, nothing changes and the gate's name checks remain. For mvx itself, before
// GDAL starts: never in a process that needs sockets (the tests).
void forbid_internet();
