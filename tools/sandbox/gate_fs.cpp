// The gate as GDAL's file systems: local files vetted as they are opened, every other file system refused.
#include "sandbox/gate_rules.h"

#include "format/safe_read.h"
#include "sandbox/file_handle.h"
#include "sandbox/forwarding_fs.h"

#include <cpl_conv.h>
#include <cpl_string.h>

#include <cerrno>
#include <cstring>
#include <mutex>
#include <set>
#include <fcntl.h>
#include <unistd.h>
#include <vector>

namespace {

// GDAL's network file systems in every spelling it routes, refused whether this build has them or
// not (GDAL lists /vsicurl? nowhere, yet sends it to /vsicurl/'s handler).
const char *const network_prefixes[] = {"/vsicurl/", "/vsicurl?", "/vsicurl_streaming/", "/vsis3/", "/vsis3_streaming/",
                                        "/vsigs/",   "/vsigs_streaming/", "/vsiaz/", "/vsiaz_streaming/", "/vsiadls/",
                                        "/vsioss/",  "/vsioss_streaming/", "/vsiswift/", "/vsiswift_streaming/",
                                        "/vsiwebhdfs/", "/vsihdfs/"};

// The file systems over local files and memory: archives, compressed files, parts of files. Any
// other GDAL has (standard input, and whatever a later GDAL adds) is refused.
const char *const local_prefixes[] = {"/vsimem/", "/vsizip/", "/vsitar/", "/vsigzip/", "/vsisubfile/", "/vsisparse/",
                                      "/vsicrypt/", "/vsistdout/", "/vsistdout_redirect/", "/vsi7z/", "/vsirar/", "/vsicached?"};

// In place of a file system mvx never reads through: every open and stat fails, and is recorded.
class Refuser final : public VSIFilesystemHandler {
public:
    Refuser(std::string what, bool network) : what_(std::move(what)), network_(network) {}
    VSIVirtualHandle *Open(const char *name, const char *, bool, CSLConstList) override {
        refuse(refusal(name));
        errno = EACCES;
        return nullptr;
    }
    int Stat(const char *name, VSIStatBufL *, int) override {
        refuse(refusal(name));
        errno = EACCES;
        return -1;
    }
    Refusal refusal(const std::string &name) const { return {name, what_, network_}; }

private:
    std::string what_;
    bool network_;
};

// The write-ahead log beside a SQLite database ("NAME-wal" beside "NAME"): GDAL reopens a
// database it has read to write when it finds one, folding the log into the database and deleting
// it. SQLite itself reads through the gate (SQLITE_USE_OGR_VFS), and opens a database in WAL mode
// immutable when it cannot share memory with its writers, which it cannot there.
bool is_sqlite_log(const char *name) {
    const std::string log = name;
    if (log.size() <= 4 || log.compare(log.size() - 4, 4, "-wal") != 0) return false;
    int fd = -1;
    long long size = 0;
    if (!open_input(log.substr(0, log.size() - 4), fd, size).ok) return false;
    char head[16] = {};
    const bool sqlite = read_full(fd, head, sizeof head) == sizeof head && !std::memcmp(head, "SQLite format 3", 16);
    close(fd);
    return sqlite;
}

// GDAL's local file system behind the gate: a file opened to be read must pass vet_local() (a
// directory fails quietly, as GDAL probes folders for the formats that are folders); a SQLite
// database's log is not there (see is_sqlite_log); all else goes straight through.
class Gate final : public ForwardingFilesystem {
public:
    using ForwardingFilesystem::ForwardingFilesystem;

    int Stat(const char *name, VSIStatBufL *st, int flags) override {
        if (is_sqlite_log(name)) {
            errno = ENOENT;
            return -1;
        }
        return local_->Stat(name, st, flags);
    }

    VSIVirtualHandle *Open(const char *name, const char *access, bool set_error, CSLConstList options) override {
        // Quietly: drivers that try to open for update first then open to read.
        if (read_only && (std::strpbrk(access, "wa+") || !std::strchr(access, 'r'))) {
            errno = EACCES;
            return nullptr;
        }
        if (std::strchr(access, 'r')) {
            struct stat st {};
            Refusal r;
            if (is_network_name(name)) {
                r = {name, "", true};
            } else if (stat(name, &st) == 0) {
                if (S_ISDIR(st.st_mode)) {
                    errno = EISDIR;
                    return nullptr;
                }
                r = vet_local(name, st, Use::dataset, local_);
            }
            if (r) {
                refuse(r);
                errno = EACCES;
                return nullptr;
            }
            if (S_ISREG(st.st_mode) && !std::strpbrk(access, "wa+")) return open_vetted(name, st, set_error);
            return local_->Open(name, access, set_error, options);
        }
        return local_->Open(name, access, set_error, options);
    }
    int Unlink(const char *name) override { return read_only ? denied() : local_->Unlink(name); }
    int *UnlinkBatch(CSLConstList files) override { return read_only ? nullptr : local_->UnlinkBatch(files); }
    int Rename(const char *from, const char *to) override { return read_only ? denied() : local_->Rename(from, to); }
    int Mkdir(const char *name, long mode) override { return read_only ? denied() : local_->Mkdir(name, mode); }
    int Rmdir(const char *name) override { return read_only ? denied() : local_->Rmdir(name); }
    int RmdirRecursive(const char *name) override { return read_only ? denied() : local_->RmdirRecursive(name); }

    bool read_only = false;  // nothing written, removed, renamed or made: the kernel denies it too

private:
    // The file the gate looked into, opened without blocking and checked to be that very file.
    static VSIVirtualHandle *open_vetted(const char *name, const struct stat &st, bool set_error) {
        const int fd = open(name, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
        if (fd < 0) {
            const int why = errno;
            if (set_error) VSIError(VSIE_FileError, "%s: %s", name, std::strerror(why));
            errno = why;
            return nullptr;
        }
        struct stat now;
        if (fstat(fd, &now) != 0 || !S_ISREG(now.st_mode) || now.st_dev != st.st_dev || now.st_ino != st.st_ino) {
            close(fd);
            refuse({name, "a file replaced as mvx opened it"});
            errno = EACCES;
            return nullptr;
        }
        note_read(name, now);
        return new FileHandle(fd);
    }

    static int denied() {
        errno = EACCES;
        return -1;
    }
};

VSIFilesystemHandler *plain_files = nullptr;
Gate *gate = nullptr;

}  // namespace

VSIFilesystemHandler *local_files() { return plain_files; }

Refusal refused_file_system(const std::string &name) {
    if (const auto *r = dynamic_cast<const Refuser *>(VSIFileManager::GetHandler(name.c_str()))) return r->refusal(name);
    return {};
}

void install_gate() {
    static std::once_flag once;
    std::call_once(once, [] {
        // GDAL forgets the handlers it replaces; held here (never destroyed) they stay reachable, not leaked.
        static auto *replaced = new std::vector<VSIFilesystemHandler *>;
        std::set<std::string> prefixes(std::begin(network_prefixes), std::end(network_prefixes));
        char **installed = VSIFileManager::GetPrefixes();
        for (int i = 0; installed && installed[i]; ++i) prefixes.insert(installed[i]);
        CSLDestroy(installed);
        const std::set<std::string> local(std::begin(local_prefixes), std::end(local_prefixes));
        for (const std::string &prefix : prefixes) {
            if (local.count(prefix)) continue;
            const bool network = is_network_name(prefix);
            replaced->push_back(VSIFileManager::GetHandler(prefix.c_str()));
            VSIFileManager::InstallHandler(prefix, new Refuser(network ? "" : "read through " + prefix + ", not a local file", network));
        }
        plain_files = VSIFileManager::GetHandler(".");
        replaced->push_back(plain_files);
        gate = new Gate(plain_files);
        VSIFileManager::InstallHandler("", gate);
    });
}

void forbid_writes() {
    install_gate();
    gate->read_only = true;
}
