// The confined child: its set-up after fork, the frames it sends, and its parent's watch over it.
#include "sandbox/child.h"

#include "sandbox/syscalls.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <climits>
#include <mutex>
#include <new>
#include <shared_mutex>

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define MVX_ASAN 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__)
#define MVX_ASAN 1
#endif

namespace {

// The runner's own message, before the body's: whether the system-call filter holds ("1" or "0").
constexpr uint8_t confined_tag = 0;
constexpr int message_fd = 3;
constexpr size_t header_bytes = 5;  // the tag, then the length in 4 bytes, least significant first

void limit(int resource, rlim_t value) {
    const rlimit r{value, value};
    setrlimit(resource, &r);
}

// Standard output to nowhere, standard error and messages to the parent, every other descriptor closed.
void take_descriptors(int message, int error, bool keep_stdin) {
    const int null = open("/dev/null", O_RDWR | O_CLOEXEC);
    if (!keep_stdin && null >= 0) dup2(null, 0);
    if (null >= 0) dup2(null, 1);
    dup2(error, 2);
    dup2(message, message_fd);
    if (close_range(message_fd + 1, ~0U, 0) != 0)
        for (int fd = message_fd + 1; fd < 65536; ++fd) close(fd);
}

[[noreturn]] void be_child(const Confinement &c, int message, int error,
                           const std::function<int(const Channel &out)> &body, pid_t parent) {
    // Gone with its parent, whatever ends it.
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (getppid() != parent) _exit(127);
    take_descriptors(message, error, c.keep_stdin);
    // No core file (the kernel would write it), no tracing by the user's other processes, no file
    // grows: writes fail rather than raise SIGXFSZ.
    prctl(PR_SET_DUMPABLE, 0);
    limit(RLIMIT_CORE, 0);
    limit(RLIMIT_FSIZE, 0);
    std::signal(SIGXFSZ, SIG_IGN);
    std::signal(SIGPIPE, SIG_IGN);
    // The parent's handlers remove the files it is writing; the child ends as a signal says, but
    // keeps ignoring what its parent was told to ignore (under nohup, say).
    for (const int sig : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) {
        struct sigaction was {};
        if (sigaction(sig, nullptr, &was) == 0 && was.sa_handler != SIG_IGN) std::signal(sig, SIG_DFL);
    }
    if (c.memory && memory_limit_works()) limit(RLIMIT_DATA, c.memory);
    bool filtered = false;
    confine_syscalls(filtered);
    const Channel out(message_fd);
    out.send(confined_tag, filtered ? "1" : "0");
    int status = 70;
    try {
        status = body(out);
    } catch (const std::bad_alloc &) {
        status = 71;
    } catch (...) {
    }
    _exit(status);
}

// The parent's side: frames taken from the message pipe as they come, the last line of standard error.
struct Listener {
    Listener(const std::function<void(uint8_t, const std::string &)> &h, ChildEnd &e) : heard(h), end(e) {}
    const std::function<void(uint8_t, const std::string &)> &heard;
    ChildEnd &end;
    std::string pending, err_line, err_last;
    size_t total = 0;

    // False when the child broke the protocol.
    bool take(const char *p, size_t n) {
        total += n;
        if (total > max_heard) return false;
        pending.append(p, n);
        size_t at = 0;
        while (pending.size() - at >= header_bytes) {
            const auto *h = reinterpret_cast<const unsigned char *>(pending.data() + at);
            const size_t length = h[1] | h[2] << 8 | h[3] << 16 | static_cast<size_t>(h[4]) << 24;
            if (length > max_message) return false;
            if (pending.size() - at - header_bytes < length) break;
            const std::string payload = pending.substr(at + header_bytes, length);
            if (h[0] == confined_tag) end.seccomp = payload == "1";
            else heard(h[0], payload);
            at += header_bytes + length;
        }
        pending.erase(0, at);
        return true;
    }

    void take_error(const char *p, size_t n) {
        for (size_t i = 0; i < n; ++i) {
            if (p[i] == '\n') {
                if (!err_line.empty()) err_last = err_line;
                err_line.clear();
            } else if (err_line.size() < 4096) {
                err_line += p[i];
            }
        }
    }
};

// Reads what is there on `fd`; false at its end (or on an error).
bool drain(int fd, const std::function<bool(const char *, size_t)> &take, bool &broken) {
    char buf[65536];
    const ssize_t n = read(fd, buf, sizeof buf);
    if (n < 0) return errno == EINTR || errno == EAGAIN;
    if (n == 0) return false;
    if (!take(buf, static_cast<size_t>(n))) broken = true;
    return true;
}

}  // namespace

void Channel::send(uint8_t tag, const std::string &payload) const {
    static std::shared_mutex one_at_a_time;
    std::string frame(header_bytes, '\0');
    frame[0] = static_cast<char>(tag);
    for (int i = 0; i < 4; ++i) frame[1 + i] = static_cast<char>(payload.size() >> (8 * i) & 0xff);
    frame += payload;
    // A pipe takes a write of up to PIPE_BUF bytes whole, between any others: threads that say
    // what they open, many a second, then never wait on each other; a larger frame, written in
    // pieces, has the pipe to itself.
    if (frame.size() <= PIPE_BUF) {
        std::shared_lock<std::shared_mutex> lock(one_at_a_time);
        while (write(fd_, frame.data(), frame.size()) < 0 && errno == EINTR) {
        }
        return;
    }
    std::unique_lock<std::shared_mutex> lock(one_at_a_time);
    write_all(fd_, reinterpret_cast<const uint8_t *>(frame.data()), frame.size());
}

bool memory_limit_works() {
#ifdef MVX_ASAN
    return false;
#else
    return true;
#endif
}

ChildEnd run_confined(const Confinement &c, const std::function<int(const Channel &out)> &body,
                      const std::function<void(uint8_t tag, const std::string &payload)> &heard) {
    ChildEnd end;
    int message[2], error[2];
    if (pipe2(message, O_CLOEXEC) != 0) {
        end.status = 127;
        return end;
    }
    if (pipe2(error, O_CLOEXEC) != 0) {
        close(message[0]), close(message[1]);
        end.status = 127;
        return end;
    }
    std::fflush(nullptr);
    const pid_t parent = getpid();
    const pid_t pid = fork();
    if (pid == 0) be_child(c, message[1], error[1], body, parent);
    close(message[1]);
    close(error[1]);
    if (pid < 0) {
        close(message[0]), close(error[0]);
        end.status = 127;
        return end;
    }
    Listener listener(heard, end);
    using clock = std::chrono::steady_clock;
    auto deadline = clock::now() + std::chrono::seconds(c.stall_seconds);
    bool message_open = true, error_open = true, broken = false;
    while ((message_open || error_open) && !broken) {
        pollfd fds[2] = {{message_open ? message[0] : -1, POLLIN, 0}, {error_open ? error[0] : -1, POLLIN, 0}};
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - clock::now()).count();
        if (left <= 0) {
            end.stalled = true;
            break;
        }
        const int ready = poll(fds, 2, static_cast<int>(std::min<long long>(left, 1000)));
        if (ready < 0 && errno != EINTR) break;
        if (ready <= 0) continue;
        if (fds[0].revents) {
            message_open = drain(message[0], [&](const char *p, size_t n) { return listener.take(p, n); }, broken);
            deadline = clock::now() + std::chrono::seconds(c.stall_seconds);
        }
        if (fds[1].revents)
            error_open = drain(error[0], [&](const char *p, size_t n) {
                listener.take_error(p, n);
                return true;
            }, broken);
    }
    if (end.stalled || broken) kill(pid, SIGKILL);
    end.broke_protocol = broken || !listener.pending.empty();
    close(message[0]);
    close(error[0]);
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (WIFSIGNALED(status)) end.signal = WTERMSIG(status);
    else end.status = WEXITSTATUS(status);
    end.last_words = listener.err_line.empty() ? listener.err_last : listener.err_line;
    return end;
}
