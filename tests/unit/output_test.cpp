// What the tools write over: outputs refused, modes and symlinks kept, map and sidecar as a pair, temporaries cleared.
#include "io.h"
#include "sidecar.h"

#include "scratch.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

class Outputs : public Scratch {
protected:
    std::string at(const std::string &name) const { return dir + "/" + name; }
    void put(const std::string &name, const std::string &text) const {
        ASSERT_TRUE(write_file(at(name), reinterpret_cast<const uint8_t *>(text.data()), text.size()).ok) << name;
    }
    std::string text(const std::string &name) const {
        std::ifstream f(at(name));
        return std::string(std::istreambuf_iterator<char>(f), {});
    }
    mode_t kind(const std::string &name) const {
        struct stat st;
        return lstat(at(name).c_str(), &st) == 0 ? st.st_mode & S_IFMT : 0;
    }
    // The names of the temporary files in the directory and any below it.
    std::vector<std::string> temporaries(const std::string &sub = "") const {
        std::vector<std::string> found;
        DIR *d = opendir((dir + sub).c_str());
        while (const dirent *e = readdir(d)) {
            const std::string name = e->d_name;
            if (name.find(".tmp.") != std::string::npos) found.push_back(sub + "/" + name);
        }
        closedir(d);
        return found;
    }
};

TEST_F(Outputs, RefusedWhenAnInputOrNotARegularFile) {
    put("in.tif", "heights");
    put("old.png", "old");
    ASSERT_EQ(link(at("in.tif").c_str(), at("hard.tif").c_str()), 0);
    ASSERT_EQ(symlink("in.tif", at("sym.tif").c_str()), 0);
    ASSERT_EQ(mkfifo(at("fifo").c_str(), 0644), 0);
    ASSERT_EQ(mkdir(at("dir").c_str(), 0755), 0);
    const int sock = socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    ASSERT_LT(at("sock").size(), sizeof addr.sun_path);
    std::strcpy(addr.sun_path, at("sock").c_str());
    ASSERT_EQ(bind(sock, reinterpret_cast<sockaddr *>(&addr), sizeof addr), 0);
    close(sock);
    // A device only root can make: /dev/null's numbers, in the scratch directory.
    const bool device = geteuid() == 0 && mknod(at("null").c_str(), S_IFCHR | 0666, makedev(1, 3)) == 0;
    ASSERT_EQ(mkdir(at("ro").c_str(), 0555), 0);
    const bool ro = geteuid() != 0;  // root writes there anyway

    const std::vector<std::string> in = {at("in.tif")};
    const std::string never = "; inputs are never overwritten (write to another name)";
    const std::string only = ", not a regular file; only regular files are replaced (write to another name)";
    const struct {
        std::string out;
        std::string says;  // empty: allowed
    } cases[] = {
        {at("new.png"), ""},
        {at("old.png"), ""},
        {at("nowhere/new.png"), at("nowhere/new.png") + ": cannot write: No such file or directory"},
        {at("in.tif"), at("in.tif") + ": is an input" + never},
        {dir + "/./in.tif", dir + "/./in.tif: is the input " + at("in.tif") + never},
        {at("hard.tif"), at("hard.tif") + ": is the input " + at("in.tif") + never},
        {at("sym.tif"), at("sym.tif") + ": is the input " + at("in.tif") + never},
        {at("fifo"), at("fifo") + ": is a FIFO" + only},
        {at("dir"), at("dir") + ": is a directory" + only},
        {at("sock"), at("sock") + ": is a socket" + only},
        {at("null"), device ? at("null") + ": is a character device" + only : ""},
        {at("in.tif/x.png"), at("in.tif/x.png") + ": cannot write: Not a directory"},
        {at("ro/new.png"), ro ? at("ro/new.png") + ": cannot write: Permission denied" : ""},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(check_output(c.out, in).why, c.says);
        // Whatever the caller checks, a writer never replaces what is not a regular file.
        if (c.says.find(only) != std::string::npos) {
            const mode_t was = kind(c.out.substr(dir.size() + 1));
            EXPECT_FALSE(write_file(c.out, reinterpret_cast<const uint8_t *>("x"), 1).ok) << c.out;
            EXPECT_EQ(kind(c.out.substr(dir.size() + 1)), was) << c.out;
        }
    }
    EXPECT_EQ(text("in.tif"), "heights");
    EXPECT_EQ(check_map_output(at("m.mvx"), {}).why, "");
    EXPECT_EQ(check_map_output(at("m.mvx"), {at("m.mvx.json")}).why, "");  // no such file yet
    put("m.mvx.json", "{}");
    EXPECT_EQ(check_map_output(at("m.mvx"), {at("m.mvx.json")}).why, at("m.mvx.json") + ": is an input" + never);
}

TEST_F(Outputs, ReplacedFileKeepsItsModeAndOwnerNewOneGetsTheUmask) {
    const mode_t um = umask(022);
    put("new", "a");
    umask(um);
    struct stat st;
    ASSERT_EQ(stat(at("new").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0644u);
    for (const mode_t mode : {0600, 0640, 0444, 0604}) {
        ASSERT_EQ(chmod(at("new").c_str(), mode), 0);
        put("new", "b");
        ASSERT_EQ(stat(at("new").c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 07777, mode);
    }
    if (geteuid() == 0) {
        ASSERT_EQ(chown(at("new").c_str(), 65534, 65534), 0);
        put("new", "c");
        ASSERT_EQ(stat(at("new").c_str(), &st), 0);
        EXPECT_EQ(st.st_uid, 65534u);
        EXPECT_EQ(st.st_gid, 65534u);
    }
    EXPECT_EQ(text("new"), geteuid() == 0 ? "c" : "b");
}

TEST_F(Outputs, SymlinkIsWrittenThroughToItsTarget) {
    ASSERT_EQ(mkdir(at("sub").c_str(), 0755), 0);
    put("sub/target.png", "old");
    ASSERT_EQ(chmod(at("sub/target.png").c_str(), 0600), 0);
    ASSERT_EQ(symlink("sub/target.png", at("link.png").c_str()), 0);
    ASSERT_EQ(symlink(at("link.png").c_str(), at("chain.png").c_str()), 0);
    ASSERT_EQ(symlink("sub/made.png", at("dangling.png").c_str()), 0);
    put("chain.png", "new");
    put("dangling.png", "made");
    EXPECT_EQ(kind("link.png"), S_IFLNK);
    EXPECT_EQ(kind("chain.png"), S_IFLNK);
    EXPECT_EQ(kind("dangling.png"), S_IFLNK);
    EXPECT_EQ(text("sub/target.png"), "new");
    EXPECT_EQ(text("sub/made.png"), "made");
    struct stat st;
    ASSERT_EQ(stat(at("sub/target.png").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0600u);
    EXPECT_TRUE(temporaries().empty());
    EXPECT_TRUE(temporaries("/sub").empty());
}

// The pair is written whole or not at all: a sidecar that cannot be written leaves the old map.
TEST_F(Outputs, MapIsNotReplacedWithoutItsSidecar) {
    const Map m;
    put("dir.mvx", "old map");
    ASSERT_EQ(mkdir(at("dir.mvx.json").c_str(), 0755), 0);
    put("far.mvx", "old map");
    ASSERT_EQ(symlink("nowhere/far.json", at("far.mvx.json").c_str()), 0);
    for (const char *name : {"dir.mvx", "far.mvx"}) {
        const Status st = save_map(at(name), m, Sidecar());
        EXPECT_EQ(st.why.rfind(at(name) + ".json: ", 0), 0u) << st.why;
        EXPECT_EQ(text(name), "old map");
        EXPECT_TRUE(temporaries().empty());
    }
    Sidecar sc;
    sc.box_w = 10, sc.box_h = 10;
    put("ok.mvx", "old map");
    ASSERT_TRUE(save_map(at("ok.mvx"), m, sc).ok);
    Sidecar back;
    bool found = false;
    EXPECT_TRUE(read_sidecar(at("ok.mvx"), back, found).ok);
    EXPECT_TRUE(found);
    EXPECT_EQ(text("ok.mvx").size(), size_t(taille_grille));
    EXPECT_TRUE(temporaries().empty());
}

// A run killed outright leaves its temporary; the next one on the same file removes it, but not
// a live writer's (locked), nor another file's, nor a name that is not one of ours.
TEST_F(Outputs, StaleTemporariesAreRemovedByTheNextRun) {
    for (const char *name : {"out.png.tmp.AbC123", "out.png.tmp.LiVe42", "out.png.tmp.backup1", "other.png.tmp.Zz9Zz9"})
        std::ofstream(at(name)) << "partial";
    const int live = open(at("out.png.tmp.LiVe42").c_str(), O_RDONLY);
    ASSERT_EQ(flock(live, LOCK_EX), 0);
    put("out.png", "new");
    close(live);
    std::vector<std::string> left = temporaries();
    std::sort(left.begin(), left.end());
    EXPECT_EQ(left, (std::vector<std::string>{"/other.png.tmp.Zz9Zz9", "/out.png.tmp.LiVe42", "/out.png.tmp.backup1"}));
}

// Interrupted while writing: the temporary goes, the old file stays, one line says why. A signal
// that was ignored when the run began stays ignored.
TEST_F(Outputs, SignalWhileWritingLeavesTheOldFile) {
    GTEST_FLAG_SET(death_test_style, "fast");  // the child writes in this test's directory
    put("m.mvx", "old");
    // In the child: the signal as a run gets it, then a write that it interrupts.
    auto stopped = [&](int sig, void (*disposition)(int)) {
        // Above the limit is the file, not the message (standard error is a file here).
        const rlimit no_core{0, 0}, limit{4096, 4096};
        setrlimit(RLIMIT_CORE, &no_core);
        if (sig == SIGXFSZ) setrlimit(RLIMIT_FSIZE, &limit);
        signal(sig, disposition);
        const Status st = write_atomic(at("m.mvx"), [sig](int fd) {
            const std::vector<uint8_t> part(sig == SIGXFSZ ? 8192 : 4, 'p');
            return write_all(fd, part.data(), part.size()) && raise(sig) == 0;
        });
        std::exit(st.ok ? 0 : 2);
    };
    const std::pair<int, const char *> stops[] = {{SIGINT, "SIGINT"}, {SIGTERM, "SIGTERM"}, {SIGHUP, "SIGHUP"}, {SIGQUIT, "SIGQUIT"}};
    for (const auto &[sig, name] : stops) {
        EXPECT_EXIT(stopped(sig, SIG_DFL), ::testing::KilledBySignal(sig),
                    "^mvx: " + at("m.mvx") + ": stopped by " + name + "; left as it was\n$");
        EXPECT_EQ(text("m.mvx"), "old");
        EXPECT_TRUE(temporaries().empty());
    }
    EXPECT_EXIT(stopped(SIGXFSZ, SIG_DFL), ::testing::ExitedWithCode(1),
                "^mvx: " + at("m.mvx") + ": file too large: over the limit on file size \\(ulimit -f\\); left as it was\n$");
    EXPECT_EQ(text("m.mvx"), "old");
    EXPECT_TRUE(temporaries().empty());
    EXPECT_EXIT(stopped(SIGHUP, SIG_IGN), ::testing::ExitedWithCode(0), "^$");
    EXPECT_EQ(text("m.mvx"), "pppp");
}

}  // namespace
