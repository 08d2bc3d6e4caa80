// Where mvx view finds the viewer: beside mvx when it is there and executable, else the first on the PATH.
#include "view/launch.h"

#include "tests/unit/scratch.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

class Viewer : public Scratch {
protected:
    // An empty file at dir/path with the given mode, its folders made as needed.
    void put(const std::string &path, mode_t mode) {
        const std::string full = dir + "/" + path;
        std::filesystem::create_directories(std::filesystem::path(full).parent_path());
        const int fd = open(full.c_str(), O_CREAT | O_WRONLY | O_CLOEXEC, 0600);
        ASSERT_GE(fd, 0) << full;
        close(fd);
        ASSERT_EQ(chmod(full.c_str(), mode), 0);
    }
};

TEST_F(Viewer, BesideMvxFirstThenThePathInOrder) {
    put("bin/mvx", 0755);
    put("bin/morvath", 0755);
    put("lonely/mvx", 0755);
    put("plain/morvath", 0644);  // not executable: passed over
    put("p1/morvath", 0755);
    put("p2/morvath", 0755);
    std::filesystem::create_directories(dir + "/folder/morvath");  // a directory by that name: passed over
    const std::string path = dir + "/plain:" + dir + "/folder:" + dir + "/p1:" + dir + "/p2";
    const struct {
        std::string self, path, want;
    } cases[] = {
        {dir + "/bin/mvx", path, dir + "/bin/morvath"},
        {dir + "/lonely/mvx", path, dir + "/p1/morvath"},
        {dir + "/lonely/mvx", dir + "/p2:" + dir + "/p1", dir + "/p2/morvath"},
        {dir + "/lonely/mvx", dir + "/plain:" + dir + "/folder", ""},
        {dir + "/lonely/mvx", "", ""},
        {"", dir + "/p2", dir + "/p2/morvath"},  // /proc/self/exe unreadable
    };
    for (const auto &c : cases) EXPECT_EQ(find_viewer(c.self, c.path), c.want) << c.self << " with PATH " << c.path;
}

// An empty PATH entry is the working directory; the viewer starts elsewhere, so it comes back absolute.
TEST_F(Viewer, AnEmptyPathEntryGivesAnAbsoluteName) {
    put("cwd/morvath", 0755);
    const std::string before = std::filesystem::current_path();
    std::filesystem::current_path(dir + "/cwd");
    const std::string got = find_viewer("", "/nonexistent::/also-not");
    std::filesystem::current_path(before);
    EXPECT_EQ(got, std::filesystem::canonical(dir + "/cwd/morvath").string());
}

}  // namespace
