// The tools' file work over the viewer's safe open and read: whole reads, atomic writes, messages.
#include "io.h"

#include "fichier.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Temporary files being written, removed if we are interrupted so no stray partial file stays
// behind. Fixed storage: the handler may only touch what was set up before the signal.
constexpr int max_pending = 4;
constexpr size_t max_path = 4096;
char pending[max_pending][max_path];
std::atomic<int> pending_count{0};

void drop_pending(int sig) {
    for (int i = 0; i < max_pending; ++i)
        if (pending[i][0]) unlink(pending[i]);
    signal(sig, SIG_DFL);
    raise(sig);
}

int hold(const std::string &tmp) {
    for (int i = 0; i < max_pending; ++i)
        if (!pending[i][0]) {
            std::memcpy(pending[i], tmp.c_str(), tmp.size() + 1);
            if (pending_count++ == 0)
                for (int s : {SIGINT, SIGTERM, SIGHUP}) signal(s, drop_pending);
            return i;
        }
    return -1;
}

void release(const std::string &tmp) {
    for (int i = 0; i < max_pending; ++i)
        if (pending[i][0] && tmp == pending[i]) {
            pending[i][0] = 0;
            if (--pending_count == 0)
                for (int s : {SIGINT, SIGTERM, SIGHUP}) signal(s, SIG_DFL);
        }
}

}  // namespace

std::string cause(const std::string &path, const char *what, int e) {
    return path + ": " + what + ": " + std::strerror(e);
}

Status open_input(const std::string &path, int &fd, long long &size) {
    std::string why;
    fd = ouvre_fichier(path.c_str(), size, why);
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
    const long long got = lit_plein(fd, bytes.data(), size);
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

PendingFile::~PendingFile() {
    if (!tmp_.empty() && !committed_) {
        unlink(tmp_.c_str());
        release(tmp_);
    }
}

Status PendingFile::write(const std::function<bool(int fd)> &fill) {
    std::string tmp = path_ + ".tmp.XXXXXX";
    if (tmp.size() >= max_path) return Status::fail(path_ + ": path too long");
    const int fd = mkstemp(tmp.data());
    if (fd < 0) return Status::fail(cause(path_, "cannot create a temporary file beside it", errno));
    tmp_ = tmp;
    if (hold(tmp_) < 0) {
        close(fd);
        return Status::fail(path_ + ": too many files written at once");
    }
    const bool ok = !fill || fill(fd);
    const int e = errno;
    if (close(fd) != 0 && ok) return Status::fail(cause(path_, "cannot write", errno));
    if (!ok) return Status::fail(cause(path_, "cannot write", e));
    return {};
}

Status PendingFile::commit() {
    // Reopened by name: the content may have come from a writer that opened it itself.
    const int fd = open(tmp_.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return Status::fail(cause(path_, "cannot write", errno));
    // Readable like any file the user creates; mkstemp makes it private.
    const mode_t um = umask(0);
    umask(um);
    if (fchmod(fd, 0666 & ~um) != 0 || fsync(fd) != 0) {
        const int e = errno;
        close(fd);
        return Status::fail(cause(path_, "cannot write", e));
    }
    close(fd);
    if (rename(tmp_.c_str(), path_.c_str()) != 0) return Status::fail(cause(path_, "cannot replace", errno));
    committed_ = true;
    release(tmp_);
    return {};
}

Status write_atomic(const std::string &path, const std::function<bool(int fd)> &fill) {
    PendingFile f(path);
    if (Status st = f.write(fill); !st.ok) return st;
    return f.commit();
}

Status write_file(const std::string &path, const uint8_t *data, size_t n) {
    return write_atomic(path, [&](int fd) { return write_all(fd, data, n); });
}
