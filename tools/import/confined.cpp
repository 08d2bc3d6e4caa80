// The confined import: the child reads and levels, the parent watches, then checks what it is given.
#include "import/confined.h"

#include "common/text.h"
#include "import/inputs.h"
#include "sandbox/child.h"
#include "sandbox/landlock.h"
#include "sandbox/readable.h"

#include <sys/mman.h>
#include <sys/prctl.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <mutex>
#include <new>
#include <optional>
#include <system_error>

namespace {

// What the reader tells its parent.
enum Tag : uint8_t { progress_tag = 1, opening_tag, note_tag, failure_tag, sidecar_tag };

constexpr size_t max_notes = 10000;

// The folders the inputs lie in (a folder named as an input, the one a file lies in), each looked
// at when first needed: a tile set's thousands of files lie in the first one's.
class InputFolders {
public:
    explicit InputFolders(const std::vector<std::string> &named) : named_(named), roots_(named.size()) {}
    // Whether `path` lies in one of them: files read elsewhere are named in the summary.
    bool hold(const std::string &path) {
        for (size_t i = 0; i < named_.size(); ++i) {
            const std::string &root = root_of(i);
            if (path.compare(0, root.size(), root) == 0 && (!root.empty() || path.find('/') == std::string::npos)) return true;
        }
        return false;
    }

private:
    const std::string &root_of(size_t i) {
        if (!roots_[i]) {
            const std::string &n = named_[i];
            const size_t slash = n.rfind('/');
            struct stat st;
            const bool folder = stat(n.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
            roots_[i] = folder ? n + (n.back() == '/' ? "" : "/") : slash == std::string::npos ? "" : n.substr(0, slash + 1);
        }
        return *roots_[i];
    }
    const std::vector<std::string> &named_;
    std::vector<std::optional<std::string>> roots_;
};

// Every file read, by name, for the sidecar; those outside the inputs' folders
// named in the summary.
void record_reads(const std::vector<std::string> &named, Sidecar &sc, std::vector<std::string> &notes) {
    // Sorted: readers on several threads open files in an order that differs from run to run.
    std::vector<FileRead> read = journal();
    std::sort(read.begin(), read.end(), [](const FileRead &a, const FileRead &b) { return a.path < b.path; });
    std::vector<std::string> elsewhere;
    InputFolders folders(named);
    for (const FileRead &r : read) {
        sc.read.push_back(r.path);
        if (!r.member && !folders.hold(r.path)) elsewhere.push_back(r.path);
    }
    if (elsewhere.empty()) return;
    std::string line = "also read, outside the inputs' folders: " + elsewhere[0];
    for (size_t i = 1; i < elsewhere.size() && i < 3; ++i) line += ", " + elsewhere[i];
    if (elsewhere.size() > 3) line += " and " + std::to_string(elsewhere.size() - 3) + " more (see mvx info)";
    notes.push_back(line);
}

// The file the reader opened last, in memory it shares with its parent: the parent names it
// however the reader ends, and the reader sends no message for each of thousands of tiles.
struct LastOpened {
    std::atomic<uint32_t> version{0};  // odd while the name is written
    uint32_t size = 0;
    char path[4096 - 2 * sizeof(uint32_t)];

    // The name, when the reader was not stopped while writing it.
    bool get(std::string &name) const {
        if (version % 2 || size == 0) return false;
        name.assign(path, size);
        return true;
    }
};

// Messages that say the reader is still opening files, at most one in this many seconds: the
// parent stops a reader silent for a minute.
constexpr double opening_heartbeat = 1.0;

// Progress messages at most this often, and the last always: each wakes the parent, and the
// reads of thousands of small tiles would send one each.
constexpr std::chrono::milliseconds progress_interval{50};

// What the child's last words need: where to say them, the file it was reading, its memory.
struct LastWords {
    const Channel *out = nullptr;
    LastOpened *shared = nullptr;
    std::mutex lock;
    std::string reading;
    std::chrono::steady_clock::time_point said{};
    uint64_t memory = 0;

    void opened(const std::string &path) {
        std::lock_guard<std::mutex> hold(lock);
        reading = path;
        if (shared) {
            ++shared->version;
            shared->size = static_cast<uint32_t>(std::min(path.size(), sizeof shared->path));
            std::memcpy(shared->path, path.data(), shared->size);
            ++shared->version;
        }
        const auto now = std::chrono::steady_clock::now();
        if (out && now - said >= std::chrono::duration<double>(opening_heartbeat)) {
            out->send(opening_tag, path);
            said = now;
        }
    }
    Status out_of_memory() {
        std::lock_guard<std::mutex> hold(lock);
        return Status::at(reading, "needs more memory than the " + grouped(static_cast<long long>(memory >> 20)) +
                                       " MiB mvx gives its reader (--max-memory)");
    }
} last;

// An allocation past the limit on any thread: said as such, not as a crash.
[[noreturn]] void on_terminate() {
    if (std::exception_ptr e = std::current_exception()) try {
            std::rethrow_exception(e);
        } catch (const std::bad_alloc &) {
            if (last.out) last.out->send(failure_tag, last.out_of_memory().why);
            _exit(1);
        } catch (...) {
        }
    std::abort();
}

// The child's work: the inputs named, then confined to them, then the import itself into `image`.
int read_in_child(const ImportOptions &o, uint8_t *image, LastOpened *opened, const Channel &out) {
    last.out = &out;
    last.shared = opened;
    last.memory = o.max_memory;
    last.opened(o.heights.empty() ? o.input_list : o.heights[0]);
    std::set_terminate(on_terminate);
    auto fail = [&](const Status &st) {
        out.send(failure_tag, st.why);
        return 1;
    };
    try {
        gdal_setup();
        std::vector<std::string> paths, notes;
        if (Status st = expand_inputs(o.heights, o.input_list, paths, notes); !st.ok) return fail(st);
        // A tile found in a directory or a list is an input too, never to be written over.
        if (paths != o.heights)
            if (Status st = check_map_output(o.out, paths, o.out_links); !st.ok) return fail(st);
        std::vector<std::string> named = paths;
        if (!o.colour.empty()) named.push_back(o.colour);
        int abi = 0;
        Siblings siblings;
        if (Status st = restrict_to(readable_for(named, &siblings), abi); !st.ok) return fail(st);
        set_siblings(std::move(siblings));
        if (abi == 0) out.send(note_tag, "this kernel has no Landlock: the inputs are read without its guarantee that nothing else is read or written");
        forbid_writes();
        start_journal([&](const std::string &path) { last.opened(path); });
        ImportOptions mine = o;
        mine.heights = paths;
        mine.input_list.clear();
        Sidecar sc;
        auto said = std::chrono::steady_clock::now() - progress_interval;
        const auto progress = [&](double f) {
            const auto now = std::chrono::steady_clock::now();
            if (f < 1 && now - said < progress_interval) return;
            said = now;
            out.send(progress_tag, number(f, 6));
        };
        if (Status st = import_map(mine, image, sc, notes, progress); !st.ok) return fail(st);
        std::string path, how;
        if (changed_since_read(path, how))
            return fail(Status::at(path, "changed while it was read (" + how + "): import it again once it is whole"));
        sc.sources = import_sources(o);
        record_reads(named, sc, notes);
        for (const std::string &n : notes) out.send(note_tag, n);
        out.send(sidecar_tag, sidecar_json(sc));
        return 0;
    } catch (const std::bad_alloc &) {
        return fail(last.out_of_memory());
    } catch (const std::system_error &e) {
        // Threads that cannot start, their stacks past the limit.
        return fail(e.code() == std::errc::resource_unavailable_try_again ? last.out_of_memory()
                                                                          : Status::at(last.reading, e.what()));
    }
}

std::string signal_name(int sig) {
    const char *abbrev = sigabbrev_np(sig);
    return abbrev ? std::string("SIG") + abbrev : "signal " + std::to_string(sig);
}

}  // namespace

Status import_confined(const ImportOptions &o, uint8_t *map, Sidecar &sc, std::vector<std::string> &notes,
                       const std::function<void(double)> &progress) {
    void *slot = mmap(nullptr, sizeof(LastOpened), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
    if (slot == MAP_FAILED) return Status::fail(cause("import", "cannot share memory with its reader", errno));
    const std::unique_ptr<LastOpened, void (*)(LastOpened *)> opened(new (slot) LastOpened,
                                                                     [](LastOpened *p) { munmap(p, sizeof(LastOpened)); });
    Confinement c;
    c.memory = o.max_memory;
    c.keep_stdin = o.input_list == "-";
    std::string failure, sidecar, opening = o.heights.empty() ? o.input_list : o.heights[0];
    std::vector<std::string> heard;
    bool odd = false;
    const ChildEnd end = run_confined(c, [&](const Channel &out) { return read_in_child(o, map, opened.get(), out); },
                                      [&](uint8_t tag, const std::string &payload) {
                                          switch (tag) {
                                          case progress_tag: {
                                              const double f = std::atof(payload.c_str());
                                              if (progress && f >= 0 && f <= 1) progress(f);
                                              break;
                                          }
                                          case opening_tag: opening = payload; break;
                                          case note_tag:
                                              if (heard.size() < max_notes) heard.push_back(payload);
                                              break;
                                          case failure_tag: failure = payload; break;
                                          case sidecar_tag: sidecar = payload; break;
                                          default: odd = true;
                                          }
                                      });
    opened->get(opening);
    Status st;
    if (end.stalled)
        st = Status::at(opening, "stopped: the reader finished no read in " + std::to_string(c.stall_seconds) + " s");
    else if (end.signal)
        st = Status::at(opening, "the reader stopped on " + signal_name(end.signal) + " while reading it" +
                                     (end.last_words.empty() ? "" : " (it said: " + end.last_words.substr(0, 160) + ")") +
                                     "; nothing was written");
    else if (!failure.empty())
        st = Status::fail(failure);
    else if (end.status != 0 || end.broke_protocol || odd || sidecar.empty())
        st = Status::at(opening, "the reader ended without a map (exit status " + std::to_string(end.status) + ")");
    else if (Status p = parse_sidecar(sidecar, "the reader's sidecar", sc); !p.ok)
        st = p;
    if (st.ok) {
        if (!end.seccomp) notes.push_back("this kernel has no seccomp: the reader runs without its guarantee of no network and no other programs");
        notes.insert(notes.end(), heard.begin(), heard.end());
    }
    return st;
}

Status import_and_save(const ImportOptions &o, std::vector<std::string> &notes, const std::function<void(double)> &progress) {
    MapOutput out(o.out, o.out_links);
    if (Status st = out.open(); !st.ok) return st;
    Sidecar sc;
    if (Status st = import_confined(o, out.bytes(), sc, notes, progress); !st.ok) return st;
    return out.commit(sc);
}

std::string reader_confinement() {
    std::string r;
    const int abi = landlock_abi();
    r += abi > 0 ? "  " + landlock_layers(abi) + "\n" : "  no Landlock in this kernel: the reader may read and write where the user may\n";
    r += prctl(PR_GET_SECCOMP) >= 0 ? "  seccomp: no sockets, programs, processes or tracing\n" : "  no seccomp in this kernel\n";
    r += memory_limit_works() ? "  memory: " + grouped(static_cast<long long>(default_child_memory >> 20)) + " MiB at most (--max-memory)\n"
                              : "  memory: not limited in this build (AddressSanitizer)\n";
    r += "  stalls: stopped after " + std::to_string(Confinement{}.stall_seconds) + " s without a finished read\n";
    return r;
}
