// The tools' file work: what an operation did, reading regular files fully, writing atomically.
#pragma once

#include "common/status.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// Opens a regular file for reading (a FIFO or device is refused, never waited on); `size` gets its size.
Status open_input(const std::string &path, int &fd, long long &size);

// The whole of a regular file, refusing files larger than `cap` bytes.
Status read_whole(const std::string &path, std::vector<uint8_t> &bytes, uint64_t cap);

// Writes n bytes, retrying interrupted writes; false with errno set on failure.
bool write_all(int fd, const uint8_t *p, size_t n);

// What an output that is a symlink stands for: the file it leads to, for a name the user gave; a
// refusal, for a name mvx chose (a default, a sidecar), which a link planted among the inputs
// could aim at any file the user can write.
enum class Links { follow, refuse };

// Whether `out` may be written: a new name or a regular file that is none of `inputs` (the same
// file under any name counts: same device and inode, so other spellings, hard links and symlinks
// to it). A directory, device, FIFO or socket is refused. Symlinks are followed, as writes go
// through them, or refused (`links`).
Status check_output(const std::string &out, const std::vector<std::string> &inputs, Links links = Links::follow);

// A file written beside its target under a temporary name (TARGET.tmp.XXXXXX, locked while it is
// written), then renamed into place by commit(), so that the target is either the old file or the
// complete new one, never a part. The target is the file a symlink at `path` leads to; the link
// stays (with Links::refuse such a link is refused, and one put there meanwhile is replaced,
// never written through). A replaced file keeps its mode and, where permitted, its owner; a new
// one gets 0666 less the umask. Dropped without a commit, or when the process gets SIGINT,
// SIGTERM, SIGHUP or SIGQUIT, the temporary is removed and one line says so; SIGXFSZ (the file
// size limit) is reported as a failure, status 1. Temporaries of the same target whose writer is
// gone (killed outright) are removed when the next one is written.
class PendingFile {
public:
    // Whether `name` (without its folder) is one PendingFile gives its temporaries: the target's,
    // then ".tmp." and six letters or digits. Such a file is never whole.
    static bool is_temporary(const std::string &name);

    explicit PendingFile(std::string path, Links links = Links::follow) : path_(std::move(path)), links_(links) {}
    ~PendingFile();
    PendingFile(const PendingFile &) = delete;
    PendingFile &operator=(const PendingFile &) = delete;

    // Creates the temporary file (refusing a target that is not a regular file, see check_output);
    // fill(fd) writes the content and returns false on failure (errno set). Without `fill`, the
    // file is left empty for a writer that needs its name.
    Status write(const std::function<bool(int fd)> &fill = {});
    const std::string &temporary() const { return tmp_; }
    // Makes the content durable, then renames it into place.
    Status commit();

private:
    friend Status commit_together(const std::vector<PendingFile *> &files);
    Status prepare();
    std::string path_, target_, tmp_;
    Links links_;
    int lock_ = -1;  // holds the temporary's lock until it is renamed or removed
    bool committed_ = false;
};

// Commits written files as one: all are made durable first, then renamed with signals held off,
// so that an interruption leaves every old file or every new one. Should a rename still fail
// after an earlier one, the later targets are removed rather than left beside a file they no
// longer go with.
Status commit_together(const std::vector<PendingFile *> &files);

// One file written through a PendingFile and committed.
Status write_atomic(const std::string &path, const std::function<bool(int fd)> &fill);
Status write_file(const std::string &path, const uint8_t *data, size_t n);
