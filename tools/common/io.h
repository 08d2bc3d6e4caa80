// The tools' file work: what an operation did, reading regular files fully, writing atomically.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// What an operation did: ok, or why not (naming the file).
struct Status {
    bool ok = true;
    std::string why;
    static Status fail(std::string w) { return {false, std::move(w)}; }
    // "name: what", the form of every failure about a file or an option.
    static Status at(const std::string &name, const std::string &what) { return fail(name + ": " + what); }
};

// "path: what: <strerror(e)>", the form of every failure that has an errno.
std::string cause(const std::string &path, const char *what, int e);

// Opens a regular file for reading (a FIFO or device is refused, never waited on); `size` gets its size.
Status open_input(const std::string &path, int &fd, long long &size);

// The whole of a regular file, refusing files larger than `cap` bytes.
Status read_whole(const std::string &path, std::vector<uint8_t> &bytes, uint64_t cap);

// Writes n bytes, retrying interrupted writes; false with errno set on failure.
bool write_all(int fd, const uint8_t *p, size_t n);

// A file written beside its target under a temporary name, then renamed into place by commit(),
// so that the target is either the old file or the complete new one, never a part. Dropped
// without a commit, or when the process gets SIGINT, SIGTERM or SIGHUP, the temporary is removed.
class PendingFile {
public:
    explicit PendingFile(std::string path) : path_(std::move(path)) {}
    ~PendingFile();
    PendingFile(const PendingFile &) = delete;
    PendingFile &operator=(const PendingFile &) = delete;

    // Creates the temporary file; fill(fd) writes the content and returns false on failure
    // (errno set). Without `fill`, the file is left empty for a writer that needs its name.
    Status write(const std::function<bool(int fd)> &fill = {});
    const std::string &temporary() const { return tmp_; }
    // Makes the content durable and readable like any file the user creates, then renames it.
    Status commit();

private:
    std::string path_, tmp_;
    bool committed_ = false;
};

// One file written through a PendingFile and committed.
Status write_atomic(const std::string &path, const std::function<bool(int fd)> &fill);
Status write_file(const std::string &path, const uint8_t *data, size_t n);
