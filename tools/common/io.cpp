// The tools' file work over the map format's safe open and read: whole reads, outputs checked, atomic writes, messages.
#include "common/io.h"

#include "common/cli.h"
#include "common/parallel.h"
#include "common/text.h"
#include "format/safe_read.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <pthread.h>
#include <sched.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Temporary files being written, removed if we are interrupted so no stray partial file stays
// behind, each with the name the user gave its target, for the message. Fixed storage: the
// handler may only touch what was set up before the signal.
constexpr int max_pending = 4;
constexpr size_t max_path = 4096;
char pending[max_pending][max_path];
char pending_name[max_pending][max_path];
std::atomic<int> pending_count{0};

constexpr int guarded[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGXFSZ};
constexpr int n_guarded = sizeof guarded / sizeof guarded[0];
struct sigaction before[n_guarded];  // what the signals did before, restored when nothing is pending

// Renaming and the handler exclude each other: a signal that comes while files are renamed is
// put off until all are, so that it cannot leave some replaced and others not.
enum Phase : int { idle, renaming, dropping };
std::atomic<int> phase{idle};
std::atomic<int> deferred{0};

void put(const char *s) {
    const ssize_t n = ::write(2, s, std::strlen(s));
    (void)n;
}

const char *signal_name(int sig) {
    switch (sig) {
    case SIGINT: return "SIGINT";
    case SIGTERM: return "SIGTERM";
    case SIGHUP: return "SIGHUP";
    case SIGQUIT: return "SIGQUIT";
    default: return "a signal";
    }
}

void drop_pending(int sig) {
    int was = idle;
    if (!phase.compare_exchange_strong(was, dropping)) {
        if (was == renaming) {
            deferred = sig;
            return;
        }
        for (;;) pause();  // another thread is already ending the process
    }
    const char *name = nullptr;
    for (int i = 0; i < max_pending; ++i)
        if (pending[i][0]) {
            unlink(pending[i]);
            if (!name) name = pending_name[i];
        }
    // After a progress line, and the terminal's ^C.
    if (isatty(2)) put("\n");
    put(program);
    put(": ");
    if (name) put(name), put(": ");
    if (sig == SIGXFSZ) {
        put("file too large: over the limit on file size (ulimit -f); left as it was\n");
        _exit(1);
    }
    put("stopped by "), put(signal_name(sig)), put("; left as it was\n");
    signal(sig, SIG_DFL);
    raise(sig);
}

int hold(const std::string &tmp, const std::string &target_name) {
    // Escaped now: the handler can only copy bytes.
    const std::string name = printable(target_name);
    for (int i = 0; i < max_pending; ++i)
        if (!pending[i][0]) {
            const size_t n = std::min(name.size(), max_path - 1);
            std::memcpy(pending_name[i], name.data(), n);
            pending_name[i][n] = 0;
            // The first byte last: the handler takes a slot whose first byte is set as complete.
            std::memcpy(pending[i] + 1, tmp.c_str() + 1, tmp.size());
            std::atomic_thread_fence(std::memory_order_seq_cst);
            pending[i][0] = tmp[0];
            if (pending_count++ == 0) {
                struct sigaction act {};
                act.sa_handler = drop_pending;
                act.sa_flags = SA_RESTART;
                sigemptyset(&act.sa_mask);
                for (int s : guarded) sigaddset(&act.sa_mask, s);
                for (int k = 0; k < n_guarded; ++k) {
                    sigaction(guarded[k], nullptr, &before[k]);
                    // A signal ignored from the start (under nohup, say) stays ignored.
                    if (before[k].sa_handler != SIG_IGN) sigaction(guarded[k], &act, nullptr);
                }
            }
            return i;
        }
    return -1;
}

void release(const std::string &tmp) {
    for (int i = 0; i < max_pending; ++i)
        if (pending[i][0] && tmp == pending[i]) {
            pending[i][0] = 0;
            if (--pending_count == 0)
                for (int k = 0; k < n_guarded; ++k) sigaction(guarded[k], &before[k], nullptr);
        }
}

bool same_file(const struct stat &a, const struct stat &b) { return a.st_dev == b.st_dev && a.st_ino == b.st_ino; }

// Holds the guarded signals off in this thread while it lives.
class SignalsHeld {
public:
    SignalsHeld() {
        sigset_t block;
        sigemptyset(&block);
        for (int s : guarded) sigaddset(&block, s);
        pthread_sigmask(SIG_BLOCK, &block, &was_);
    }
    ~SignalsHeld() { pthread_sigmask(SIG_SETMASK, &was_, nullptr); }
    SignalsHeld(const SignalsHeld &) = delete;
    SignalsHeld &operator=(const SignalsHeld &) = delete;

private:
    sigset_t was_;
};

// The directory part of a path, with its slash ("dir/", "/"); empty for a bare name.
std::string directory_of(const std::string &path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? "" : path.substr(0, slash + 1);
}

// The file a chain of symlinks at `path` ends at (which may not exist yet); `path` itself when it is no link.
std::string link_target(std::string path) {
    for (int depth = 0; depth < 40; ++depth) {
        struct stat st;
        if (lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) break;
        char to[max_path];
        const ssize_t n = readlink(path.c_str(), to, sizeof to);
        if (n <= 0 || static_cast<size_t>(n) == sizeof to) break;
        path = to[0] == '/' ? std::string(to, n) : directory_of(path) + std::string(to, n);
    }
    return path;
}

// Locks a temporary just made; false when it is no longer ours: another run, clearing stale
// temporaries, took it between its creation and this lock.
bool lock_new(int fd, const std::string &tmp) {
    // Where the file system has no locks, the temporary goes unprotected rather than unwritten.
    if (flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK) return false;
    struct stat a, b;
    return fstat(fd, &a) == 0 && lstat(tmp.c_str(), &b) == 0 && same_file(a, b);
}

// Removes the temporaries of `target` (TARGET.tmp. and mkstemp's six letters or digits) that no
// writer holds locked: left by a run killed outright.
void remove_stale(const std::string &target) {
    const std::string dir = directory_of(target);
    const std::string prefix = target.substr(dir.size()) + ".tmp.";
    DIR *d = opendir(dir.empty() ? "." : dir.c_str());
    if (!d) return;
    while (const dirent *e = readdir(d)) {
        const std::string name = e->d_name;
        if (name.size() != prefix.size() + 6 || name.compare(0, prefix.size(), prefix) != 0 || !PendingFile::is_temporary(name))
            continue;
        const std::string path = dir + name;
        const int fd = open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0) continue;
        struct stat a, b;
        if (fstat(fd, &a) == 0 && S_ISREG(a.st_mode) && flock(fd, LOCK_EX | LOCK_NB) == 0 &&
            lstat(path.c_str(), &b) == 0 && same_file(a, b))
            unlink(path.c_str());
        close(fd);
    }
    closedir(d);
}

}  // namespace

Status open_input(const std::string &path, int &fd, long long &size) {
    std::string why;
    fd = open_regular(path.c_str(), size, why);
    if (fd == -2) return Status::fail(path + ": it is " + why + ", not a regular file");
    if (fd < 0) return Status::fail(path + ": " + why);
    return {};
}

Status read_whole(const std::string &path, std::vector<uint8_t> &bytes, uint64_t cap) {
    bytes.clear();
    int fd = -1;
    long long size = 0;
    if (Status st = open_input(path, fd, size); !st.ok) return st;
    if (static_cast<uint64_t>(size) > cap) {
        close(fd);
        return Status::fail(path + ": " + std::to_string(size) + " bytes is too large to read (at most " +
                            std::to_string(cap) + ")");
    }
    bytes.resize(static_cast<size_t>(size));
    const long long got = read_full(fd, bytes.data(), size);
    const int e = errno;
    close(fd);
    if (got < 0) return Status::fail(cause(path, "cannot read", e));
    if (got < size) return Status::fail(path + ": file shrank while being read");
    return {};
}

bool write_all(int fd, const uint8_t *p, size_t n) {
    while (n > 0) {
        const ssize_t k = ::write(fd, p, n);
        if (k < 0 && errno == EINTR) continue;
        if (k == 0) errno = ENOSPC;
        if (k <= 0) return false;
        p += k;
        n -= static_cast<size_t>(k);
    }
    return true;
}

Status check_output(const std::string &out, const std::vector<std::string> &inputs, Links links) {
    struct stat o;
    if (links == Links::refuse && lstat(out.c_str(), &o) == 0 && S_ISLNK(o.st_mode))
        return Status::at(out, "a symbolic link; mvx does not write through a link it was not given: name the target with -o");
    const bool exists = stat(out.c_str(), &o) == 0;
    if (!exists && errno != ENOENT) return Status::fail(cause(out, "cannot write", errno));
    if (exists && !S_ISREG(o.st_mode))
        return Status::fail(out + ": is " + file_kind(o.st_mode) +
                            ", not a regular file; only regular files are replaced (write to another name)");
    // A tile set's thousands of inputs looked at on every core; the first that is the output said.
    std::vector<char> is_out(exists ? inputs.size() : 0);
    parallel_each(is_out.size(), [&](size_t k) {
        struct stat i;
        is_out[k] = stat(inputs[k].c_str(), &i) == 0 && same_file(i, o);
    });
    for (size_t k = 0; k < is_out.size(); ++k)
        if (is_out[k])
            return Status::fail(out + (inputs[k] == out ? ": is an input" : ": is the input " + inputs[k]) +
                                "; inputs are never overwritten (write to another name)");
    // The temporary goes beside the file a link leads to: a directory it cannot go in is told now,
    // not after the work.
    const std::string dir = directory_of(link_target(out));
    if (access(dir.empty() ? "." : dir.c_str(), W_OK | X_OK) != 0) return Status::fail(cause(out, "cannot write", errno));
    return {};
}

bool PendingFile::is_temporary(const std::string &name) {
    const size_t n = name.size();
    return n > 11 && name.compare(n - 11, 5, ".tmp.") == 0 &&
           std::all_of(name.end() - 6, name.end(), [](char c) { return std::isalnum(static_cast<unsigned char>(c)); });
}

PendingFile::~PendingFile() {
    // Removed before its lock goes, so that no other run takes it for stale meanwhile.
    if (!tmp_.empty() && !committed_) {
        unlink(tmp_.c_str());
        release(tmp_);
    }
    if (lock_ >= 0) close(lock_);
}

Status PendingFile::write(const std::function<bool(int fd)> &fill) {
    if (Status st = check_output(path_, {}, links_); !st.ok) return st;
    target_ = links_ == Links::follow ? link_target(path_) : path_;
    if (target_.size() + 12 >= max_path) return Status::fail(path_ + ": path too long");
    remove_stale(target_);
    {
        // From its creation on, an interruption finds the temporary to remove.
        const SignalsHeld held;
        for (int attempt = 0; lock_ < 0; ++attempt) {
            std::string tmp = target_ + ".tmp.XXXXXX";
            const int fd = mkostemp(tmp.data(), O_CLOEXEC);
            if (fd < 0) return Status::fail(cause(path_, "cannot create a temporary file beside it", errno));
            if (lock_new(fd, tmp)) {
                lock_ = fd;
                tmp_ = tmp;
            } else {
                close(fd);
                if (attempt == 8) return Status::fail(path_ + ": cannot keep a temporary file beside it");
            }
        }
        if (hold(tmp_, path_) < 0) return Status::fail(path_ + ": too many files written at once");
    }
    if (fill && !fill(lock_)) return Status::fail(cause(path_, "cannot write", errno));
    return {};
}

Status PendingFile::prepare() {
    // Reopened by name: the content may have come from a writer that opened it itself.
    const int fd = open(tmp_.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return Status::fail(cause(path_, "cannot write", errno));
    struct stat old;
    mode_t mode;
    // Not through a link: the target is none, unless one was put there since, to be replaced.
    if (lstat(target_.c_str(), &old) == 0 && S_ISREG(old.st_mode)) {
        // The owner before the mode, as a change of owner clears the set-id bits; those are kept
        // only with the owner.
        const bool owner = fchown(fd, old.st_uid, old.st_gid) == 0;
        if (!owner) {
            // The group alone may still be kept (one we belong to); failing that, the file is ours.
            const int group = fchown(fd, static_cast<uid_t>(-1), old.st_gid);
            (void)group;
        }
        mode = old.st_mode & (owner ? 07777 : 0777);
    } else {
        // Readable like any file the user creates; mkstemp makes it private.
        const mode_t um = umask(0);
        umask(um);
        mode = 0666 & ~um;
    }
    const int e = (fchmod(fd, mode) != 0 || fsync(fd) != 0) ? errno : 0;
    close(fd);
    if (e) return Status::fail(cause(path_, "cannot write", e));
    return {};
}

Status PendingFile::commit() { return commit_together({this}); }

Status commit_together(const std::vector<PendingFile *> &files) {
    for (PendingFile *f : files)
        if (Status st = f->prepare(); !st.ok) return st;
    Status result;
    int sig = 0;
    {
        const SignalsHeld held;
        // Another thread may be in the handler: it is ending the process.
        for (int expect = idle; !phase.compare_exchange_weak(expect, renaming); expect = idle) sched_yield();
        size_t done = 0;
        for (; done < files.size(); ++done) {
            PendingFile &f = *files[done];
            if (rename(f.tmp_.c_str(), f.target_.c_str()) != 0) {
                result = Status::fail(cause(f.path_, "cannot replace", errno));
                break;
            }
            f.committed_ = true;
            release(f.tmp_);
            close(f.lock_);
            f.lock_ = -1;
        }
        if (done > 0)
            for (size_t k = done; k < files.size(); ++k) unlink(files[k]->target_.c_str());
        phase = idle;
        sig = deferred.exchange(0);
    }
    if (sig) raise(sig);
    return result;
}

Status write_atomic(const std::string &path, const std::function<bool(int fd)> &fill) {
    PendingFile f(path);
    if (Status st = f.write(fill); !st.ok) return st;
    return f.commit();
}

Status write_file(const std::string &path, const uint8_t *data, size_t n) {
    return write_atomic(path, [&](int fd) { return write_all(fd, data, n); });
}
