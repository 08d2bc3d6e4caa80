// GDAL's handle on a local file the gate lets it read: the descriptor the gate opened, read with pread through a buffer of its own.
#include "sandbox/file_handle.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <limits>

namespace {

// The window: a page at first (as stdio's buffer), doubled by each read that starts where the last
// ended, up to what a small tile holds whole.
constexpr size_t first_window = 4096, last_window = 256 << 10;

// Up to n bytes at `at`, retrying interrupted reads; fewer only at the end of the file or on an error.
size_t pread_full(int fd, char *to, size_t n, vsi_l_offset at) {
    size_t done = 0;
    while (done < n) {
        const ssize_t k = pread(fd, to + done, n - done, static_cast<off_t>(at + done));
        if (k < 0 && errno == EINTR) continue;
        if (k <= 0) break;
        done += static_cast<size_t>(k);
    }
    return done;
}

}  // namespace

FileHandle::FileHandle(int fd) : fd_(fd) {}

FileHandle::~FileHandle() { Close(); }

int FileHandle::Seek(vsi_l_offset offset, int whence) {
    vsi_l_offset base = 0;
    if (whence == SEEK_CUR) {
        base = pos_;
    } else if (whence == SEEK_END) {
        struct stat st;
        if (fstat(fd_, &st) != 0) return -1;
        base = static_cast<vsi_l_offset>(st.st_size);
    } else if (whence != SEEK_SET) {
        errno = EINVAL;
        return -1;
    }
    pos_ = base + offset;
    eof_ = 0;
    return 0;
}

size_t FileHandle::Read(void *to, size_t size, size_t count) {
    if (size == 0 || count == 0) return 0;
    if (count > std::numeric_limits<size_t>::max() / size) {
        errno = EINVAL;
        return 0;
    }
    if (pos_ > static_cast<vsi_l_offset>(std::numeric_limits<off_t>::max())) {
        eof_ = 1;
        return 0;
    }
    const size_t want = size * count;
    char *out = static_cast<char *>(to);
    size_t done = 0;
    const bool runs_on = pos_ == next_;
    while (done < want) {
        if (pos_ >= window_at_ && pos_ < window_at_ + window_len_) {
            const size_t k = std::min(want - done, static_cast<size_t>(window_at_ + window_len_ - pos_));
            std::memcpy(out + done, window_.get() + (pos_ - window_at_), k);
            done += k, pos_ += k;
            continue;
        }
        widest_ = runs_on ? std::min(std::max(2 * widest_, first_window), last_window) : first_window;
        size_t got = 0;
        if (want - done >= widest_) {  // as much as the window or more: straight to the caller
            got = pread_full(fd_, out + done, want - done, pos_);
            done += got, pos_ += got;
            if (done < want) eof_ = 1;
            break;
        }
        if (window_size_ < widest_) window_.reset(new char[widest_]), window_size_ = widest_;
        got = pread_full(fd_, window_.get(), widest_, pos_);
        window_at_ = pos_, window_len_ = got;
        if (got == 0) {
            eof_ = 1;
            break;
        }
    }
    next_ = pos_;
    return done / size;
}

size_t FileHandle::Write(const void *, size_t, size_t) {
    errno = EBADF;
    return 0;
}

int FileHandle::Close() {
    if (fd_ < 0) return 0;
    const int r = close(fd_);
    fd_ = -1;
    return r;
}

void *FileHandle::GetNativeFileDescriptor() { return reinterpret_cast<void *>(static_cast<intptr_t>(fd_)); }

size_t FileHandle::PRead(void *to, size_t bytes, vsi_l_offset offset) const {
    return pread_full(fd_, static_cast<char *>(to), bytes, offset);
}
