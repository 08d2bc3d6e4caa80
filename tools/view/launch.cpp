// mvx view: the map checked, the viewer found and run in a private directory, its status passed on, the directory removed.
#include "view/launch.h"

#include "common/cli.h"
#include "common/text.h"
#include "map/info.h"

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <iterator>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

const char view_summary[] = "show a map in the viewer, from any directory";

const char view_usage[] =
    "usage: mvx view [MAP]\n"
    "\n"
    "Shows a map file (default datas.mvx) in the Morvath viewer, from any\n"
    "directory and without copying it: the viewer (morvath beside mvx, else the\n"
    "first on the PATH) starts in a private temporary directory where datas.mvx is\n"
    "a link to MAP, and that directory is removed when the viewer ends. The map is\n"
    "checked first as 'mvx info' checks it: a missing map, or one that is not\n"
    "75,497,472 bytes long, is refused before any window opens. SIGINT, SIGTERM and\n"
    "SIGHUP are passed on to the viewer. The exit status is the viewer's, 128 + N\n"
    "when signal N ended it.\n";

namespace {

const char viewer_name[] = "morvath";
const int passed_on[] = {SIGINT, SIGTERM, SIGHUP};

volatile sig_atomic_t viewer_pid = 0;

void pass_on(int sig) {
    if (viewer_pid > 0) kill(viewer_pid, sig);
}

bool executable(const std::string &p) {
    struct stat st;
    return stat(p.c_str(), &st) == 0 && S_ISREG(st.st_mode) && access(p.c_str(), X_OK) == 0;
}

// The absolute form of `p`, or empty.
std::string absolute(const std::string &p) {
    char b[PATH_MAX];
    return realpath(p.c_str(), b) ? std::string(b) : std::string();
}

std::string self_path() {
    char b[PATH_MAX];
    const ssize_t n = readlink("/proc/self/exe", b, sizeof b);
    return n > 0 && n < static_cast<ssize_t>(sizeof b) ? std::string(b, static_cast<size_t>(n)) : std::string();
}

// A directory of our own under TMPDIR holding one link, removed when dropped.
class Stage {
public:
    ~Stage() {
        if (!link_.empty()) unlink(link_.c_str());
        if (!dir_.empty() && rmdir(dir_.c_str()) != 0)
            std::fprintf(stderr, "%s: warning: %s\n", program, printable(cause(dir_, "cannot remove", errno)).c_str());
    }
    Status make(const std::string &target) {
        const char *tmp = std::getenv("TMPDIR");
        std::string t = std::string(tmp && *tmp ? tmp : P_tmpdir) + "/mvx-view-XXXXXX";
        if (!mkdtemp(t.data())) return Status::fail(cause(t, "cannot create a directory", errno));
        dir_ = t;
        const std::string link = dir_ + "/datas.mvx";
        if (symlink(target.c_str(), link.c_str()) != 0) return Status::fail(cause(link, "cannot create a link", errno));
        link_ = link;
        return {};
    }
    const std::string &dir() const { return dir_; }

private:
    std::string dir_, link_;
};

// The handlers that pass signals on to the viewer, in place while it runs; the old ones put back after.
// A signal ignored when mvx started (nohup, a background job) stays ignored, for the viewer too.
class PassOn {
public:
    PassOn() {
        struct sigaction sa {};
        sa.sa_handler = pass_on;
        sigemptyset(&sa.sa_mask);
        sa.sa_flags = SA_RESTART;
        for (size_t i = 0; i < std::size(passed_on); ++i) {
            sigaction(passed_on[i], nullptr, &old_[i]);
            if (old_[i].sa_handler != SIG_IGN) sigaction(passed_on[i], &sa, nullptr);
        }
    }
    ~PassOn() {
        viewer_pid = 0;
        for (size_t i = 0; i < std::size(passed_on); ++i) sigaction(passed_on[i], &old_[i], nullptr);
    }
    // What the viewer should start with: the handling mvx was given.
    void restore_in_child() const {
        for (size_t i = 0; i < std::size(passed_on); ++i) sigaction(passed_on[i], &old_[i], nullptr);
    }

private:
    struct sigaction old_[std::size(passed_on)];
};

}  // namespace

Status parse_view(int argc, char **argv, ViewOptions &o, bool &help) {
    bool have_map = false;
    return parse_options("view", argc, argv, {}, [&](const char *a) {
        if (have_map) return Status::fail("view: one map only ('" + o.map + "' and '" + a + "')");
        o.map = a;
        have_map = true;
        return Status{};
    }, help);
}

std::string find_viewer(const std::string &self, const std::string &path) {
    const size_t slash = self.rfind('/');
    if (slash != std::string::npos) {
        const std::string beside = self.substr(0, slash + 1) + viewer_name;
        if (executable(beside)) return beside;
    }
    for (size_t start = 0; start <= path.size();) {
        size_t end = path.find(':', start);
        if (end == std::string::npos) end = path.size();
        // An empty entry is the working directory; the viewer starts elsewhere, so its name is made absolute.
        const std::string dir = end > start ? path.substr(start, end - start) : ".";
        const std::string candidate = dir + "/" + viewer_name;
        if (executable(candidate)) return absolute(candidate);
        start = end + 1;
    }
    return {};
}

namespace {

// The map checked as mvx info checks it, its absolute path in `target`, and the viewer to show it.
Status map_and_viewer(const ViewOptions &o, std::string &target, std::string &viewer) {
    int fd = -1;
    long long size = 0;
    if (Status st = open_map(o.map, fd, size); !st.ok) return st;
    close(fd);
    if (Status st = check_complete(o.map, size); !st.ok) return st;
    target = absolute(o.map);
    if (target.empty()) return Status::fail(cause(o.map, "cannot find its absolute path", errno));
    const std::string self = self_path();
    const char *path = std::getenv("PATH");
    viewer = find_viewer(self, path ? path : "");
    if (viewer.empty())
        return Status::fail(std::string("view: cannot find the viewer: no ") + viewer_name + " beside " +
                            (self.empty() ? "mvx" : self) + " nor on the PATH");
    return {};
}

// Runs `viewer` in directory `dir` with the signal handling mvx was given, passing signals on to
// it while it runs; `status` gets its exit status, 128 + N when signal N ended it.
Status run_viewer(const std::string &viewer, const std::string &dir, const PassOn &handlers, int &status) {
    // A write end that closes on exec: the child reports a failed exec through it, a success closes it unread.
    int report[2];
    if (pipe2(report, O_CLOEXEC) != 0) return Status::fail(cause(viewer, "cannot run", errno));

    // Signals wait until the viewer's pid is known, so that none is lost in between.
    sigset_t mask, old_mask;
    sigemptyset(&mask);
    for (int s : passed_on) sigaddset(&mask, s);
    sigprocmask(SIG_BLOCK, &mask, &old_mask);
    const pid_t pid = fork();
    if (pid == 0) {
        handlers.restore_in_child();
        sigprocmask(SIG_SETMASK, &old_mask, nullptr);
        int e = 0;
        if (chdir(dir.c_str()) == 0) {
            char *const args[] = {const_cast<char *>(viewer_name), nullptr};
            execv(viewer.c_str(), args);
        }
        e = errno;
        (void)!write(report[1], &e, sizeof e);
        _exit(127);
    }
    const int fork_errno = errno;
    if (pid > 0) viewer_pid = pid;
    sigprocmask(SIG_SETMASK, &old_mask, nullptr);
    close(report[1]);
    if (pid < 0) {
        close(report[0]);
        return Status::fail(cause(viewer, "cannot run", fork_errno));
    }
    int exec_errno = 0;
    ssize_t n;
    while ((n = read(report[0], &exec_errno, sizeof exec_errno)) < 0 && errno == EINTR) {
    }
    close(report[0]);
    int ws = 0;
    while (waitpid(pid, &ws, 0) < 0 && errno == EINTR) {
    }
    viewer_pid = 0;
    if (n == static_cast<ssize_t>(sizeof exec_errno)) return Status::fail(cause(viewer, "cannot run", exec_errno));
    status = WIFSIGNALED(ws) ? 128 + WTERMSIG(ws) : WEXITSTATUS(ws);
    return {};
}

}  // namespace

Status view_map(const ViewOptions &o, int &status) {
    std::string target, viewer;
    if (Status st = map_and_viewer(o, target, viewer); !st.ok) return st;
    // Declared first so that it goes last: a signal while the directory is removed changes nothing.
    PassOn handlers;
    Stage stage;
    if (Status st = stage.make(target); !st.ok) return st;
    return run_viewer(viewer, stage.dir(), handlers, status);
}
