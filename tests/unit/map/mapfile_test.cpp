// The tools' map files: atomic writing and reading back.
#include "map/mapfile.h"

#include "tests/unit/scratch.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

class MapFiles : public Scratch {
protected:
    int entries() {
        int n = 0;
        DIR *d = opendir(dir.c_str());
        while (dirent *e = readdir(d)) n += e->d_name[0] != '.';
        closedir(d);
        return n;
    }
};

TEST_F(MapFiles, WrittenMapReadsBackWholeAndLeavesNoTemporary) {
    Map m;
    for (long long i = 0; i < grid_cells; ++i) {
        m.colour[i] = static_cast<uint16_t>((i * 2654435761ULL) & 0x7FFF);
        m.height[i] = static_cast<int8_t>(i * 31);
    }
    const std::string p = dir + "/datas.mvx";
    ASSERT_TRUE(write_map(p, m).ok);
    struct stat st;
    ASSERT_EQ(stat(p.c_str(), &st), 0);
    EXPECT_EQ(st.st_size, grid_bytes);
    EXPECT_EQ(entries(), 1);

    Map back;
    long long bytes = 0;
    ASSERT_TRUE(read_map(p, back, bytes).ok);
    EXPECT_EQ(bytes, grid_bytes);
    EXPECT_EQ(back.colour, m.colour);
    EXPECT_EQ(back.height, m.height);
}

TEST_F(MapFiles, WriteIntoMissingDirectoryFailsNamingIt) {
    Map m;
    const std::string p = dir + "/nowhere/datas.mvx";
    const Status s = write_map(p, m);
    EXPECT_FALSE(s.ok);
    EXPECT_NE(s.why.find(dir + "/nowhere"), std::string::npos) << s.why;
    EXPECT_EQ(entries(), 0);
}

}  // namespace
