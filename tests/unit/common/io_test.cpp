// What the tools write over: outputs refused, modes and symlinks kept, map and sidecar as a pair, temporaries cleared.
#include "common/io.h"
#include "map/sidecar.h"

#include "tests/unit/scratch.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
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
    mode_t mode(const std::string &name) const {
        struct stat st;
        return lstat(at(name).c_str(), &st) == 0 ? st.st_mode : 0;
    }
    // The temporary files left anywhere in the directory.
    std::vector<std::string> temporaries() const {
        std::vector<std::string> found;
        for (const auto &e : std::filesystem::recursive_directory_iterator(dir))
            if (e.path().filename().string().find(".tmp.") != std::string::npos) found.push_back(e.path().filename());
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
    // A device only root can make: /dev/null's numbers, in the scratch directory.
    const bool device = geteuid() == 0 && mknod(at("null").c_str(), S_IFCHR | 0666, makedev(1, 3)) == 0;
    const std::string never = "; inputs are never overwritten (write to another name)";
    const std::string only = ", not a regular file; only regular files are replaced (write to another name)";
    const struct {
        std::string out, says;  // says: empty when allowed
    } cases[] = {
        {at("new.png"), ""},
        {at("old.png"), ""},
        {at("in.tif"), at("in.tif") + ": is an input" + never},
        {dir + "/./in.tif", dir + "/./in.tif: is the input " + at("in.tif") + never},
        {at("hard.tif"), at("hard.tif") + ": is the input " + at("in.tif") + never},
        {at("sym.tif"), at("sym.tif") + ": is the input " + at("in.tif") + never},
        {at("fifo"), at("fifo") + ": is a FIFO" + only},
        {at("dir"), at("dir") + ": is a directory" + only},
        {at("null"), device ? at("null") + ": is a character device" + only : ""},
        {at("nowhere/new.png"), at("nowhere/new.png") + ": cannot write: No such file or directory"},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(check_output(c.out, {at("in.tif")}).why, c.says);
        // Whatever its caller checked, a writer never replaces what is not a regular file.
        if (c.says.find(only) != std::string::npos) {
            const mode_t was = mode(c.out.substr(dir.size() + 1));
            EXPECT_FALSE(write_file(c.out, reinterpret_cast<const uint8_t *>("x"), 1).ok) << c.out;
            EXPECT_EQ(mode(c.out.substr(dir.size() + 1)), was) << c.out;
        }
    }
    EXPECT_EQ(text("in.tif"), "heights");
    put("m.mvx.json", "{}");
    EXPECT_EQ(check_map_output(at("m.mvx"), {at("m.mvx.json")}, Links::follow).why, at("m.mvx.json") + ": is an input" + never);
}

// A name the user did not give (a default, a sidecar) is never written through a link planted
// there; a name given with -o is. import and generate replace nothing but a map.
TEST_F(Outputs, MapsReplaceOnlyMapsAndChosenNamesNoLinks) {
    put("victim", "precious");
    put("tile.tif", "heights");
    put("empty.mvx", "");
    put("old.mvx", "");
    ASSERT_EQ(truncate(at("old.mvx").c_str(), grid_bytes), 0);  // sparse: a map's size, no data
    for (const char *name : {"datas.mvx", "m.mvx.json", "given.mvx"}) ASSERT_EQ(symlink("victim", at(name).c_str()), 0);
    ASSERT_EQ(symlink("old.mvx", at("old-link.mvx").c_str()), 0);
    const std::string link = ": a symbolic link; mvx does not write through a link it was not given: name the target with -o";
    const std::string not_map = ": exists and is not a map ", only_maps = "; mvx replaces only maps (write to another name)";
    const struct {
        std::string map;
        Links links;
        std::string says;  // empty when allowed
    } cases[] = {
        {at("datas.mvx"), Links::refuse, at("datas.mvx") + link},
        {at("m.mvx"), Links::follow, at("m.mvx.json") + link},
        {at("old-link.mvx"), Links::follow, ""},
        {at("old-link.mvx"), Links::refuse, at("old-link.mvx") + link},
        {at("given.mvx"), Links::follow, at("given.mvx") + not_map + "(8 bytes)" + only_maps},
        {at("tile.tif"), Links::follow, at("tile.tif") + not_map + "(7 bytes)" + only_maps},
        {at("empty.mvx"), Links::refuse, ""},
        {at("old.mvx"), Links::refuse, ""},
    };
    Sidecar whole;
    whole.box_w = grid_columns, whole.box_h = grid_rows;
    for (const auto &c : cases) {
        EXPECT_EQ(check_map_output(c.map, {}, c.links).why, c.says) << c.map;
        if (!c.says.empty()) {
            EXPECT_EQ(save_map(c.map, Map(), whole, c.links).why, c.says) << c.map;
        }
    }
    EXPECT_EQ(text("victim"), "precious");
    EXPECT_EQ(text("tile.tif"), "heights");
}

TEST_F(Outputs, ReplacedFileKeepsItsModeAndOwner) {
    put("f", "a");
    for (const mode_t m : {0600, 0640, 0444}) {
        ASSERT_EQ(chmod(at("f").c_str(), m), 0);
        put("f", "b");
        EXPECT_EQ(mode("f") & 07777, m);
    }
    if (geteuid() == 0) {
        ASSERT_EQ(chown(at("f").c_str(), 65534, 65534), 0);
        put("f", "c");
        struct stat st;
        ASSERT_EQ(stat(at("f").c_str(), &st), 0);
        EXPECT_EQ(st.st_uid, 65534u);
        EXPECT_EQ(st.st_gid, 65534u);
    }
}

TEST_F(Outputs, SymlinkIsWrittenThroughToItsTarget) {
    ASSERT_EQ(mkdir(at("sub").c_str(), 0755), 0);
    put("sub/target.png", "old");
    ASSERT_EQ(symlink("sub/target.png", at("link.png").c_str()), 0);
    ASSERT_EQ(symlink(at("link.png").c_str(), at("chain.png").c_str()), 0);
    put("chain.png", "new");
    EXPECT_TRUE(S_ISLNK(mode("link.png")) && S_ISLNK(mode("chain.png")));
    EXPECT_EQ(text("sub/target.png"), "new");
    EXPECT_TRUE(temporaries().empty());
}

// A sidecar that cannot be written leaves the old map.
TEST_F(Outputs, MapIsNotReplacedWithoutItsSidecar) {
    put("m.mvx", "old map");
    ASSERT_EQ(truncate(at("m.mvx").c_str(), grid_bytes), 0);
    ASSERT_EQ(mkdir(at("m.mvx.json").c_str(), 0755), 0);
    const Status st = save_map(at("m.mvx"), Map(), Sidecar(), Links::follow);
    EXPECT_EQ(st.why.rfind(at("m.mvx.json") + ": is a directory", 0), 0u) << st.why;
    std::string head(7, ' ');
    std::ifstream(at("m.mvx")).read(head.data(), 7);
    EXPECT_EQ(head, "old map");
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
    EXPECT_EQ(left, (std::vector<std::string>{"other.png.tmp.Zz9Zz9", "out.png.tmp.LiVe42", "out.png.tmp.backup1"}));
}

// Interrupted while writing: the temporary goes, the old file stays, one line says why. A signal
// ignored when the run began stays ignored.
TEST_F(Outputs, SignalWhileWritingLeavesTheOldFile) {
    GTEST_FLAG_SET(death_test_style, "fast");  // the child writes in this test's directory
    put("m.mvx", "old");
    auto stopped = [&](int sig, void (*disposition)(int)) {
        // Over the limit goes the file, not the message (standard error is a file here).
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
    const std::string old = "; left as it was\n$";
    for (const auto &[sig, name] : {std::pair{SIGINT, "SIGINT"}, {SIGTERM, "SIGTERM"}, {SIGHUP, "SIGHUP"}, {SIGQUIT, "SIGQUIT"}})
        EXPECT_EXIT(stopped(sig, SIG_DFL), ::testing::KilledBySignal(sig), "^mvx: " + at("m.mvx") + ": stopped by " + name + old);
    EXPECT_EXIT(stopped(SIGXFSZ, SIG_DFL), ::testing::ExitedWithCode(1),
                "^mvx: " + at("m.mvx") + ": file too large: over the limit on file size \\(ulimit -f\\)" + old);
    EXPECT_EQ(text("m.mvx"), "old");
    EXPECT_TRUE(temporaries().empty());
    EXPECT_EXIT(stopped(SIGHUP, SIG_IGN), ::testing::ExitedWithCode(0), "^$");
    EXPECT_EQ(text("m.mvx"), "pppp");
}

}  // namespace
