// Naming an import's files: each file once however it is named, entries that vanish skipped, lists and folders bounded.
#include "common/text.h"
#include "import/import.h"
#include "import/inputs.h"

#include "tests/unit/scratch.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <fstream>
#include <sys/stat.h>
#include <unistd.h>

namespace {

class Inputs : public Scratch {
protected:
    std::string at(const std::string &name) const { return dir + "/" + name; }
    void touch(const std::string &name) const { std::ofstream(at(name)) << "raster\n"; }
};

// Named by its name, another spelling, a link, a hard link, in a folder and in a list: read once,
// where first named, and the summary says so once per file.
TEST_F(Inputs, EachFileOnceWhereFirstNamed) {
    ASSERT_EQ(mkdir(at("set").c_str(), 0755), 0);
    touch("set/a.tif");
    touch("set/b.tif");
    ASSERT_EQ(symlink("set/a.tif", at("link.tif").c_str()), 0);
    ASSERT_EQ(link(at("set/b.tif").c_str(), at("hard.tif").c_str()), 0);
    std::ofstream(at("list")) << at("set/b.tif") << "\n" << at("set/a.tif") << "\n";
    const std::string zipped = "/vsizip/" + at("t.zip") + "/t.tif";
    std::vector<std::string> paths, notes;
    const Status st = expand_inputs({at("set/a.tif"), dir + "/./set/a.tif", at("link.tif"), at("set"), at("hard.tif"), zipped,
                                     zipped, at("missing.tif"), at("missing.tif")},
                                    at("list"), paths, notes);
    ASSERT_TRUE(st.ok) << st.why;
    EXPECT_EQ(paths, (std::vector<std::string>{at("set/a.tif"), at("set/b.tif"), zipped, at("missing.tif")}));
    EXPECT_EQ(notes, (std::vector<std::string>{
                         at("set/a.tif") + " named again as " + dir + "/./set/a.tif and 3 more times: read once",
                         at("set/b.tif") + " named again as " + at("hard.tif") + " and 1 more time: read once",
                         zipped + " named again as " + zipped + ": read once",
                         at("missing.tif") + " named again as " + at("missing.tif") + ": read once",
                     }));
}

// A folder's entry that leads nowhere or vanished is skipped, named in a note; the rest is read,
// but for a map being written into the folder.
TEST_F(Inputs, FolderEntriesThatLeadNowhereAreSkipped) {
    ASSERT_EQ(mkdir(at("set").c_str(), 0755), 0);
    touch("set/a.tif");
    touch("set/out.mvx.tmp.Ab12Cd");
    const struct {
        const char *name, *to, *says;
    } cases[] = {
        {"gone.tif", "nowhere.tif", ": a link to nothing: No such file or directory; skipped"},
        {"loop.tif", "loop.tif", ": a link to nothing: Too many levels of symbolic links; skipped"},
    };
    std::vector<std::string> want;
    for (const auto &c : cases) {
        ASSERT_EQ(symlink(c.to, at(std::string("set/") + c.name).c_str()), 0);
        want.push_back(at(std::string("set/") + c.name) + c.says);
    }
    std::vector<std::string> paths, notes;
    const Status st = expand_inputs({at("set")}, "", paths, notes);
    ASSERT_TRUE(st.ok) << st.why;
    EXPECT_EQ(paths, std::vector<std::string>{at("set/a.tif")});
    std::sort(notes.begin(), notes.end());
    EXPECT_EQ(notes, want);
}

// Each bound is refused where it is passed, naming the list or the folder and the bound.
TEST_F(Inputs, ListsAndFoldersAreBounded) {
    for (const char *d : {"four", "deep", "deep/a", "deep/b", "deep/c", "deep/d"}) ASSERT_EQ(mkdir(at(d).c_str(), 0755), 0);
    for (const char *f : {"four/1.tif", "four/2.tif", "four/3.tif", "four/4.tif", "x.tif"}) touch(f);
    std::ofstream(at("long")) << "x.tif\n" << std::string(PATH_MAX + 1, 'y') << "\nz\n";
    std::ofstream(at("longest")) << std::string(PATH_MAX, 'y');
    std::ofstream(at("lines")) << "a\n# b\n\nd\n";
    std::ofstream(at("three")) << "a\nb\nc\n";
    std::ofstream(at("none")) << "# nothing\n\n   \n";
    const struct {
        std::vector<std::string> given;
        std::string list, names, cause;  // names: what the refusal names first; empty when allowed
    } cases[] = {
        {{}, "long", "--input-list: " + at("long"), "line 2 is longer than 4,096 bytes"},
        {{}, "longest", "", ""},
        {{}, "lines", "--input-list: " + at("lines"), "more than 3 lines"},
        {{}, "three", "", ""},
        {{at("x.tif")}, "three", "c", "more than 3 files to import"},
        {{}, "none", "--input-list: " + at("none"), "names no file"},
        {{at("four")}, "", at("four"), "more than 3 files to import"},
        {{at("deep")}, "", at("deep"), "more than 3 files and folders in it"},
    };
    for (const auto &c : cases) {
        std::vector<std::string> paths, notes;
        const Status st = expand_inputs(c.given, c.list.empty() ? "" : at(c.list), paths, notes, 3);
        EXPECT_EQ(st.ok, c.names.empty()) << c.list << ": " << st.why;
        if (c.names.empty()) continue;
        EXPECT_EQ(st.why.rfind(c.names + ": ", 0), 0u) << st.why;
        EXPECT_NE(st.why.find(c.cause), std::string::npos) << st.why;
    }
    // The help tells the real bound.
    EXPECT_NE(std::string(import_usage).find("At most " + grouped(max_inputs) + " files"), std::string::npos);
    EXPECT_NE(std::string(import_usage).find("at most " + grouped(max_inputs) + " lines"), std::string::npos);
}

}  // namespace
