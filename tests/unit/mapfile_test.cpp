// The tools' map files: atomic writing, reading back and quantising.
#include "levels.h"
#include "mapfile.h"

#include "scratch.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

class Fichiers : public Scratch {
protected:
    int entries() {
        int n = 0;
        DIR *d = opendir(dir.c_str());
        while (dirent *e = readdir(d)) n += e->d_name[0] != '.';
        closedir(d);
        return n;
    }
};

TEST_F(Fichiers, WrittenMapReadsBackWholeAndLeavesNoTemporary) {
    Map m;
    for (long long i = 0; i < cellules; ++i) {
        m.colour[i] = static_cast<uint16_t>((i * 2654435761ULL) & 0x7FFF);
        m.height[i] = static_cast<int8_t>(i * 31);
    }
    const std::string p = dir + "/datas.mvx";
    ASSERT_TRUE(write_map(p, m).ok);
    struct stat st;
    ASSERT_EQ(stat(p.c_str(), &st), 0);
    EXPECT_EQ(st.st_size, taille_grille);
    EXPECT_EQ(entries(), 1);

    Map back;
    long long bytes = 0;
    ASSERT_TRUE(read_map(p, back, bytes).ok);
    EXPECT_EQ(bytes, taille_grille);
    EXPECT_EQ(back.colour, m.colour);
    EXPECT_EQ(back.height, m.height);

    // The same map from its file's bytes: the same file.
    std::vector<uint8_t> grid(taille_grille);
    for (long long i = 0; i < cellules; ++i) ecrit_cellule(&grid[3 * i], m.colour[i], m.height[i]);
    PendingFile again(dir + "/again.mvx");
    ASSERT_TRUE(write_map(again, grid.data()).ok);
    ASSERT_TRUE(again.commit().ok);
    Map same;
    ASSERT_TRUE(read_map(dir + "/again.mvx", same, bytes).ok);
    EXPECT_EQ(same.colour, m.colour);
    EXPECT_EQ(same.height, m.height);
}

TEST_F(Fichiers, WriteIntoMissingDirectoryFailsNamingIt) {
    Map m;
    const std::string p = dir + "/nowhere/datas.mvx";
    const Status s = write_map(p, m);
    EXPECT_FALSE(s.ok);
    EXPECT_NE(s.why.find(dir + "/nowhere"), std::string::npos) << s.why;
    EXPECT_EQ(entries(), 0);
}

TEST(Quantise, RoundsToNearestLevelAndClamps) {
    const std::pair<float, int> table[] = {{0.0f, 0},    {0.49f, 0},   {0.5f, 1},      {-0.5f, -1},   {-0.49f, 0},
                                           {126.6f, 127}, {127.0f, 127}, {1e9f, 127},   {-128.0f, -128},
                                           {-1e9f, -128}, {NAN, -128},   {INFINITY, 127}, {-INFINITY, -128}};
    for (auto [z, q] : table) EXPECT_EQ(quantise(z), q) << z;
}

}  // namespace
