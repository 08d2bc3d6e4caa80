// A confined child process: forked before any thread, limited, filtered, and watched by its parent.
#pragma once

#include "common/io.h"

#include <cstdint>
#include <functional>
#include <string>

// The reader's memory when the user gives no other: ample for any import (the map's sums, a few
// rows of tiles, GDAL's block cache), far below what a decoder fooled into holding a whole
// chain or a huge frame would take.
constexpr uint64_t default_child_memory = 1ULL << 30;

// How a child is confined before its work starts; its file-system limits (Landlock) it sets itself
// once it knows what it reads (see restrict_to).
struct Confinement {
    uint64_t memory = default_child_memory;  // RLIMIT_DATA, bytes; 0: none
    int stall_seconds = 60;                  // stopped when it sends nothing for this long
    bool keep_stdin = false;                 // else standard input reads nothing
};

// What the child sends its parent: a tag and its bytes. Sending is safe from any thread.
class Channel {
public:
    explicit Channel(int fd) : fd_(fd) {}
    void send(uint8_t tag, const std::string &payload) const;

private:
    int fd_;
};

// How a child ended, as its parent saw it.
struct ChildEnd {
    bool stalled = false;    // stopped by the parent, silent for stall_seconds
    int signal = 0;          // the signal that ended it, else 0
    int status = 0;          // its exit status when no signal ended it
    bool broke_protocol = false;  // it sent what no child of ours sends
    std::string last_words;  // the last line it wrote to standard error, if any
    bool seccomp = false;    // whether the kernel took its system-call filter
};

// Runs `body` in a child process forked now (the caller must have no other threads), confined as
// `c` says: no core dumps, not traceable, no file growth, its memory limited, the system calls a
// reader never needs denied (see confine_syscalls), standard output and error its parent's to read.
// Its return value is its exit status. Each message it sends goes to `heard` in the parent, in
// order, on the calling thread. A message larger than max_message, or more than max_heard bytes in
// all, ends the child as broken.
constexpr size_t max_message = 16u << 20;
constexpr size_t max_heard = 256u << 20;
ChildEnd run_confined(const Confinement &c, const std::function<int(const Channel &out)> &body,
                      const std::function<void(uint8_t tag, const std::string &payload)> &heard);

// Whether the kernel limits a child's memory here (not under AddressSanitizer, whose shadow memory
// the limit would count).
bool memory_limit_works();
