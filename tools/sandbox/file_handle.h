// GDAL's handle on a local file the gate lets it read: the descriptor the gate opened, read with pread through a buffer of its own.
#pragma once

#include <cpl_vsi_virtual.h>

#include <sys/types.h>

#include <memory>

// GDAL's own local handle is a stdio stream. glibc keeps every open stream in one list, under one
// lock, and unlinks a stream as it closes by walking that list: with thousands of tiles held open
// from placing to reading, each close walked thousands of streams. This handle holds a descriptor
// instead: reads are pread calls (no seek is ever a system call), through a window that widens
// while reads run on from one another, as a header's and a small file's do, and stays small for
// reads that jump.
class FileHandle final : public VSIVirtualHandle {
public:
    explicit FileHandle(int fd);  // takes the descriptor, open to read
    ~FileHandle() override;
    FileHandle(const FileHandle &) = delete;
    FileHandle &operator=(const FileHandle &) = delete;

    int Seek(vsi_l_offset offset, int whence) override;
    vsi_l_offset Tell() override { return pos_; }
    size_t Read(void *to, size_t size, size_t count) override;
    size_t Write(const void *, size_t, size_t) override;  // never: the handle only reads
    int Eof() override { return eof_; }
    int Close() override;
    void *GetNativeFileDescriptor() override;
    bool HasPRead() const override { return true; }
    size_t PRead(void *to, size_t bytes, vsi_l_offset offset) const override;

private:
    int fd_;
    vsi_l_offset pos_ = 0;
    int eof_ = 0;
    std::unique_ptr<char[]> window_;  // bytes at window_at_ ... window_at_ + window_len_ - 1; never cleared, only read into
    size_t window_size_ = 0;
    vsi_l_offset window_at_ = 0, next_ = 0;  // next_: where the last read ended
    size_t window_len_ = 0, widest_ = 0;
};
