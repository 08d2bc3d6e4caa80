// The journal of files read: what the reader opened, for the sidecar's sources and to catch a file changing under it.
#include "sandbox/gate_rules.h"

#include "common/parallel.h"

#include <mutex>
#include <set>

namespace {

std::mutex lock;
bool keeping = false;
std::function<void(const std::string &)> listener;
std::vector<FileRead> entries;
std::set<std::string> known;

void keep(FileRead r) {
    std::function<void(const std::string &)> tell;
    {
        std::lock_guard<std::mutex> hold(lock);
        if (!keeping || !known.insert(r.path).second) return;
        entries.push_back(r);
        tell = listener;
    }
    if (tell) tell(r.path);
}

bool same_time(const timespec &a, const timespec &b) { return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec; }

}  // namespace

void start_journal(std::function<void(const std::string &path)> opened) {
    std::lock_guard<std::mutex> hold(lock);
    keeping = true;
    listener = std::move(opened);
    entries.clear();
    known.clear();
}

void note_read(const std::string &path, const struct stat &st) { keep({path, false, st}); }

void note_member(const std::string &name) { keep({name, true, {}}); }

std::vector<FileRead> journal() {
    std::lock_guard<std::mutex> hold(lock);
    return entries;
}

bool changed_since_read(std::string &path, std::string &how) {
    // Each file looked at again, a tile set's thousands on every core; the first changed one said.
    const std::vector<FileRead> read = journal();
    std::vector<const char *> change(read.size(), nullptr);
    parallel_each(read.size(), [&](size_t i) {
        const FileRead &r = read[i];
        struct stat now;
        if (r.member) return;
        if (stat(r.path.c_str(), &now) != 0) change[i] = "it is gone";
        else if (now.st_dev != r.st.st_dev || now.st_ino != r.st.st_ino) change[i] = "another file has taken its name";
        else if (now.st_size != r.st.st_size) change[i] = "its size changed";
        else if (!same_time(now.st_mtim, r.st.st_mtim)) change[i] = "it was written to";
    });
    for (size_t i = 0; i < read.size(); ++i)
        if (change[i]) {
            path = read[i].path, how = change[i];
            return true;
        }
    return false;
}
