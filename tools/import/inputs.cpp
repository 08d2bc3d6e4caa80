// Naming an import's files: lists streamed and bounded, directories walked and bounded, each file kept once.
#include "import/inputs.h"

#include "common/text.h"

#include <gdal.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <dirent.h>
#include <map>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace {

// Notes of one kind, the first few in full and the rest counted, so that a folder of a million
// broken links says so in a few lines.
class Notes {
public:
    explicit Notes(std::string rest) : rest_(std::move(rest)) {}
    void add(std::string note) {
        if (shown_.size() < max_shown) shown_.push_back(std::move(note));
        else ++more_;
    }
    void to(std::vector<std::string> &notes) const {
        notes.insert(notes.end(), shown_.begin(), shown_.end());
        if (more_) notes.push_back("and " + grouped(more_) + " more " + rest_);
    }

private:
    static constexpr size_t max_shown = 10;
    std::string rest_;
    std::vector<std::string> shown_;
    long long more_ = 0;
};

// The bound on files, and how a refusal words it.
struct Bound {
    long long most;
    std::string over(const char *what) const {
        return "more than " + grouped(most) + " " + what + "; mvx imports at most " + grouped(most) + " files at once";
    }
};

// What tells one file from another: its device and inode with no text, or a name that is no file
// (GDAL's own) by its text alone.
using FileKey = std::pair<std::pair<dev_t, ino_t>, std::string>;
FileKey key_of(const std::string &path, const struct stat *st) {
    return st ? FileKey{{st->st_dev, st->st_ino}, std::string()} : FileKey{{dev_t(), ino_t()}, path};
}

// A file found, with its key from the look that found it.
struct FoundFile {
    std::string path;
    FileKey key;
};
using Found = std::vector<FoundFile>;

// Adds a file found while expanding `where` (`st` its stat, null for a name that is no file),
// refusing the one past the bound.
Status add(Found &found, std::string path, const struct stat *st, const std::string &where, const Bound &bound) {
    if (static_cast<long long>(found.size()) >= bound.most) return Status::at(where, bound.over("files to import"));
    FileKey key = key_of(path, st);
    found.push_back({std::move(path), std::move(key)});
    return {};
}

// Names a list holds, one a line, read a block at a time and never whole: a line longer than any
// path, or a line past the bound, is refused as soon as it is read.
Status read_list(const std::string &list, std::vector<std::string> &named, const Bound &bound) {
    const std::string label = "--input-list: " + (list == "-" ? std::string("standard input") : list);
    int fd = 0;
    long long size = 0;
    if (list != "-")
        if (Status st = open_input(list, fd, size); !st.ok) return Status::fail("--input-list: " + st.why);
    const auto done = [&](Status st) {
        if (fd != 0) close(fd);
        return st;
    };
    std::string line;
    long long lines = 0;
    const size_t before = named.size();
    const auto take = [&]() -> Status {
        if (++lines > bound.most) return Status::at(label, bound.over("lines"));
        while (!line.empty() && std::strchr(" \t\r", line.back())) line.pop_back();
        const size_t first = line.find_first_not_of(" \t");
        if (first != std::string::npos && line[first] != '#') named.push_back(line.substr(first));
        line.clear();
        return {};
    };
    char block[65536];
    for (;;) {
        const ssize_t n = read(fd, block, sizeof block);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return done(Status::fail(cause(label, "cannot read", errno)));
        if (n == 0) break;
        for (const char *p = block, *end = block + n; p < end;) {
            const char *eol = static_cast<const char *>(std::memchr(p, '\n', static_cast<size_t>(end - p)));
            line.append(p, eol ? eol : end);
            if (line.size() > PATH_MAX)
                return done(Status::at(label, "line " + grouped(lines + 1) + " is longer than " + grouped(PATH_MAX) +
                                                  " bytes, more than a path can be"));
            if (!eol) break;
            if (Status st = take(); !st.ok) return done(st);
            p = eol + 1;
        }
    }
    if (!line.empty())
        if (Status st = take(); !st.ok) return done(st);
    if (named.size() == before) return done(Status::at(label, "names no file"));
    return done({});
}

// A directory GDAL reads as one raster itself (an ArcInfo grid, for one).
bool opens_as_raster(const std::string &dir) {
    return GDALIdentifyDriverEx(dir.c_str(), GDAL_OF_RASTER, nullptr, nullptr) != nullptr;
}

// Every regular file in `dir` and below (directories that are links are not followed, so no
// loop); what cannot be looked at is skipped with a note.
Status list_directory(const std::string &dir, Found &out, Notes &skipped, const Bound &bound) {
    DIR *d = opendir(dir.c_str());
    if (!d) return Status::fail(cause(dir, "cannot list", errno));
    std::vector<std::string> subdirs;
    Status st;
    for (;;) {
        errno = 0;
        const dirent *e = readdir(d);
        if (!e) {
            if (errno) st = Status::fail(cause(dir, "cannot list", errno));
            break;
        }
        const std::string name = e->d_name;
        if (name.empty() || name[0] == '.') continue;
        const std::string path = dir + (dir.back() == '/' ? "" : "/") + name;
        struct stat s, ls;
        if (stat(path.c_str(), &s) != 0) {
            const int why = errno;
            const bool dangling = lstat(path.c_str(), &ls) == 0 && S_ISLNK(ls.st_mode);
            skipped.add(cause(path, dangling ? "a link to nothing" : "vanished or cannot be looked at", why) + "; skipped");
            continue;
        }
        if (S_ISDIR(s.st_mode)) {
            if (lstat(path.c_str(), &ls) == 0 && S_ISDIR(ls.st_mode)) {
                // Counted like files: a folder of a million empty folders is refused too.
                if (static_cast<long long>(out.size() + subdirs.size()) >= bound.most) {
                    st = Status::at(dir, bound.over("files and folders in it"));
                    break;
                }
                subdirs.push_back(path);
            }
        } else if (S_ISREG(s.st_mode) && !is_companion(name) && !PendingFile::is_temporary(name)) {
            if (st = add(out, path, &s, dir, bound); !st.ok) break;
        }
    }
    closedir(d);
    for (size_t i = 0; st.ok && i < subdirs.size(); ++i) st = list_directory(subdirs[i], out, skipped, bound);
    return st;
}

// The paths with each file kept once, where first named, by their keys. A note for each file
// named more than once.
void keep_distinct(Found &found, std::vector<std::string> &paths, std::vector<std::string> &notes) {
    std::map<FileKey, size_t> first;
    std::vector<size_t> again(found.size(), 0);          // for each kept path: how many times it was named again
    std::vector<std::string> first_again(found.size());  // and its first other name
    std::vector<std::string> kept;
    for (FoundFile &f : found) {
        const auto seen = first.emplace(std::move(f.key), kept.size());
        if (seen.second) {
            kept.push_back(std::move(f.path));
            continue;
        }
        const size_t k = seen.first->second;
        if (again[k]++ == 0) first_again[k] = f.path;
    }
    Notes named_again("files named more than once, each read once");
    for (size_t k = 0; k < kept.size(); ++k)
        if (again[k])
            named_again.add(kept[k] + " named again as " + first_again[k] +
                            (again[k] == 2 ? " and 1 more time"
                             : again[k] > 2 ? " and " + grouped(static_cast<long long>(again[k]) - 1) + " more times"
                                            : "") +
                            ": read once");
    named_again.to(notes);
    paths = std::move(kept);
}

}  // namespace

bool is_companion(const std::string &name) {
    for (const char *ext : {".aux.xml", ".aux", ".ovr", ".rrd", ".msk", ".prj", ".tfw", ".tfwx", ".tifw", ".tiffw", ".wld",
                            ".jgw", ".jpgw", ".pgw", ".pngw", ".gfw", ".bpw", ".j2w", ".blw", ".hdr", ".stx", ".clr", ".xml",
                            ".txt", ".md", ".htm", ".html", ".pdf", ".csv", ".json", ".dbf", ".shp", ".shx", ".qix", ".cpg",
                            ".qml", ".sld", ".lyr", ".log", ".md5", ".sha256", ".mvx"})
        if (ends_with(name, ext)) return true;
    return false;
}

bool is_gdal_name(const std::string &p) {
    if (p.rfind("/vsi", 0) == 0) return true;
    const size_t colon = p.find(':');
    return colon != std::string::npos && colon > 1 && p.find('/') > colon;
}

Status expand_inputs(const std::vector<std::string> &given, const std::string &list, std::vector<std::string> &paths,
                     std::vector<std::string> &notes, long long most) {
    paths.clear();
    Found found;
    const Bound bound{most};
    std::vector<std::string> named = given;
    if (!list.empty())
        if (Status st = read_list(list, named, bound); !st.ok) return st;
    Notes skipped("entries skipped");
    for (const std::string &p : named) {
        struct stat st;
        const bool file = !is_gdal_name(p) && stat(p.c_str(), &st) == 0;
        if (!file || !S_ISDIR(st.st_mode) || opens_as_raster(p)) {
            if (Status s = add(found, p, file ? &st : nullptr, p, bound); !s.ok) return s;
            continue;
        }
        const size_t before = found.size();
        if (Status s = list_directory(p, found, skipped, bound); !s.ok) return s;
        std::sort(found.begin() + static_cast<long>(before), found.end(),
                  [](const FoundFile &a, const FoundFile &b) { return a.path < b.path; });
        if (found.size() == before) return Status::at(p, "a directory with no raster files in it");
    }
    skipped.to(notes);
    keep_distinct(found, paths, notes);
    return {};
}
