// Landlock from its system calls: a ruleset of what is handled, rules for what stays readable, then enforcement.
#include "sandbox/landlock.h"

#include "common/parallel.h"

#include <linux/landlock.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>

// Rights and scopes newer than the kernel headers this may be built with.
#ifndef LANDLOCK_ACCESS_FS_TRUNCATE
#define LANDLOCK_ACCESS_FS_TRUNCATE (1ULL << 14)
#endif
#ifndef LANDLOCK_ACCESS_FS_IOCTL_DEV
#define LANDLOCK_ACCESS_FS_IOCTL_DEV (1ULL << 15)
#endif
#ifndef LANDLOCK_ACCESS_NET_BIND_TCP
#define LANDLOCK_ACCESS_NET_BIND_TCP (1ULL << 0)
#define LANDLOCK_ACCESS_NET_CONNECT_TCP (1ULL << 1)
#endif
#ifndef LANDLOCK_SCOPE_ABSTRACT_UNIX_SOCKET
#define LANDLOCK_SCOPE_ABSTRACT_UNIX_SOCKET (1ULL << 0)
#define LANDLOCK_SCOPE_SIGNAL (1ULL << 1)
#endif

namespace {

// The ruleset's attributes as ABI 6 has them; older kernels are given the part they know.
struct RulesetAttr {
    uint64_t handled_access_fs;
    uint64_t handled_access_net;
    uint64_t scoped;
};

// Every file-system right each ABI knows: handled, so that what no rule grants is denied.
uint64_t fs_rights(int abi) {
    uint64_t r = LANDLOCK_ACCESS_FS_EXECUTE | LANDLOCK_ACCESS_FS_WRITE_FILE | LANDLOCK_ACCESS_FS_READ_FILE |
                 LANDLOCK_ACCESS_FS_READ_DIR | LANDLOCK_ACCESS_FS_REMOVE_DIR | LANDLOCK_ACCESS_FS_REMOVE_FILE |
                 LANDLOCK_ACCESS_FS_MAKE_CHAR | LANDLOCK_ACCESS_FS_MAKE_DIR | LANDLOCK_ACCESS_FS_MAKE_REG |
                 LANDLOCK_ACCESS_FS_MAKE_SOCK | LANDLOCK_ACCESS_FS_MAKE_FIFO | LANDLOCK_ACCESS_FS_MAKE_BLOCK |
                 LANDLOCK_ACCESS_FS_MAKE_SYM;
    if (abi >= 2) r |= LANDLOCK_ACCESS_FS_REFER;
    if (abi >= 3) r |= LANDLOCK_ACCESS_FS_TRUNCATE;
    if (abi >= 5) r |= LANDLOCK_ACCESS_FS_IOCTL_DEV;
    return r;
}

class Fd {
public:
    explicit Fd(int fd) : fd_(fd) {}
    ~Fd() {
        if (fd_ >= 0) close(fd_);
    }
    Fd(const Fd &) = delete;
    Fd &operator=(const Fd &) = delete;
    int get() const { return fd_; }

private:
    int fd_;
};

// Lets `path` be read (a file), or read and listed with all below it (a folder). A name that does
// not exist, or that the process cannot reach anyway, is left out.
Status allow_read(int ruleset, const std::string &path) {
    const Fd at(open(path.c_str(), O_PATH | O_CLOEXEC));
    if (at.get() < 0) return {};
    struct stat st;
    if (fstat(at.get(), &st) != 0) return {};
    landlock_path_beneath_attr rule{};
    rule.allowed_access = LANDLOCK_ACCESS_FS_READ_FILE | (S_ISDIR(st.st_mode) ? LANDLOCK_ACCESS_FS_READ_DIR : 0);
    rule.parent_fd = at.get();
    if (syscall(SYS_landlock_add_rule, ruleset, LANDLOCK_RULE_PATH_BENEATH, &rule, 0) != 0)
        return Status::fail(cause(path, "cannot be let through the sandbox", errno));
    return {};
}

}  // namespace

int landlock_abi() {
    const long abi = syscall(SYS_landlock_create_ruleset, nullptr, 0, LANDLOCK_CREATE_RULESET_VERSION);
    return abi > 0 ? static_cast<int>(abi) : 0;
}

std::string landlock_layers(int abi) {
    if (abi <= 0) return "";
    std::string r = "Landlock ABI " + std::to_string(abi) + ": reads of the inputs only, no writes";
    if (abi >= 4) r += ", no TCP";
    if (abi >= 6) r += ", no signals or abstract sockets outside";
    return r;
}

Status restrict_to(const std::vector<std::string> &readable, int &abi) {
    abi = 0;
    const int offered = landlock_abi();
    if (offered == 0) return {};
    RulesetAttr attr{fs_rights(offered), 0, 0};
    size_t size = sizeof attr.handled_access_fs;
    if (offered >= 4) attr.handled_access_net = LANDLOCK_ACCESS_NET_BIND_TCP | LANDLOCK_ACCESS_NET_CONNECT_TCP, size += 8;
    if (offered >= 6) attr.scoped = LANDLOCK_SCOPE_ABSTRACT_UNIX_SOCKET | LANDLOCK_SCOPE_SIGNAL, size += 8;
    const Fd ruleset(static_cast<int>(syscall(SYS_landlock_create_ruleset, &attr, size, 0)));
    if (ruleset.get() < 0) return Status::fail(cause("Landlock", "cannot make a ruleset", errno));
    // Thousands of tiles' rules, each a lookup of its name, are added on every core.
    std::vector<Status> failed(readable.size());
    parallel_each(readable.size(), [&](size_t i) { failed[i] = allow_read(ruleset.get(), readable[i]); });
    for (const Status &st : failed)
        if (!st.ok) return st;
    if (prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0) return Status::fail(cause("Landlock", "cannot set no_new_privs", errno));
    if (syscall(SYS_landlock_restrict_self, ruleset.get(), 0) != 0)
        return Status::fail(cause("Landlock", "cannot be enforced", errno));
    abi = offered;
    return {};
}
