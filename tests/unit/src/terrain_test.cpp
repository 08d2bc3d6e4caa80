// Loading the map file, sampling cells at and past the grid's edges, and decoding colours.
#include "src/terrain.h"

#include "tests/unit/scratch.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

// The byte a test file holds at offset o: varied enough that a misplaced row shows.
uint8_t pattern(long long o) { return static_cast<uint8_t>((o * 2654435761ULL) >> 13); }

class Loading : public Scratch {
protected:
    void SetUp() override {
        Scratch::SetUp();
        std::memset(data3d, 0xAA, grid_bytes);  // whatever an earlier load left
    }
    std::string map_file(long long n) {
        const std::string p = dir + "/datas.mvx";
        std::vector<char> b(static_cast<size_t>(n));
        for (long long o = 0; o < n; ++o) b[o] = static_cast<char>(pattern(o));
        std::ofstream(p, std::ios::binary).write(b.data(), n);
        return p;
    }
    // First offset where the grid differs from the file image of n bytes (zero beyond it), or -1.
    long long first_mismatch(long long n) {
        for (long long o = 0; o < grid_bytes; ++o)
            if (data3d[o] != (o < n ? pattern(o) : 0)) return o;
        return -1;
    }
};

TEST_F(Loading, SizesTakeEveryByteTheFileHasAndNothingElse) {
    struct row_case {
        long long size;
        load_state state;
        long long bytes_read;
    };
    const row_case table[] = {
        {grid_bytes, load_ok, grid_bytes},
        {grid_bytes + 1000, load_ok, grid_bytes},
        {0, load_short, 0},
        {2 * row_bytes + 5, load_short, 2 * row_bytes + 5},
        {grid_bytes - 1, load_short, grid_bytes - 1},
    };
    for (const row_case &c : table) {
        SCOPED_TRACE(c.size);
        std::memset(data3d, 0xAA, grid_bytes);
        const load_result r = charge_terrain(map_file(c.size).c_str());
        EXPECT_EQ(r.state, c.state);
        EXPECT_EQ(r.bytes_read, c.bytes_read);
        EXPECT_EQ(first_mismatch(c.bytes_read), -1);
        if (c.state == load_short) {
            EXPECT_NE(r.reason.find("datas.mvx"), std::string::npos) << r.reason;
            EXPECT_NE(r.reason.find(std::to_string(c.bytes_read) + " of 75497472"), std::string::npos) << r.reason;
        }
    }
}

TEST_F(Loading, CellOfRowOneStartsAtTheSecondRowOfTheFile) {
    ASSERT_EQ(charge_terrain(map_file(grid_bytes).c_str()).state, load_ok);
    const map_cell c = lit_cellule(0, 1);
    EXPECT_EQ(c.colour, pattern(18432) << 8 | pattern(18433));
    EXPECT_EQ(c.h, static_cast<int8_t>(pattern(18434)));
}

TEST_F(Loading, FilesThatCannotBeMapsFailWithTheirNameAndCause) {
    const std::string subdir = dir + "/subdir", fifo = dir + "/fifo";
    ASSERT_EQ(mkdir(subdir.c_str(), 0755), 0);
    ASSERT_EQ(mkfifo(fifo.c_str(), 0644), 0);
    struct row_case {
        std::string name, cause;
    };
    const row_case table[] = {
        {dir + "/absent.mvx", "No such file or directory"},
        {subdir, "a directory"},
        {fifo, "a FIFO"},  // no writer: must not block
        {"/dev/zero", "a character device"},
        // Regular files the kernel shows, of no size or a page, that would read as a whole map.
        {"/proc/self/environ", "it is under /proc, not a map file"},
        {"/sys/kernel/uevent_seqnum", "it is under /sys, not a map file"},
        {dir + "/status", "it is under /proc, not a map file"},  // a link there
    };
    ASSERT_EQ(symlink("/proc/self/status", (dir + "/status").c_str()), 0);
    for (const row_case &c : table) {
        const load_result r = charge_terrain(c.name.c_str());
        EXPECT_EQ(r.state, load_failed) << c.name;
        EXPECT_NE(r.reason.find(c.name), std::string::npos) << r.reason;
        EXPECT_NE(r.reason.find(c.cause), std::string::npos) << r.reason;
    }
}

TEST_F(Loading, UnreadableFileFails) {
    if (geteuid() == 0) GTEST_SKIP() << "root reads any file";
    const std::string p = map_file(100);
    chmod(p.c_str(), 0);
    const load_result r = charge_terrain(p.c_str());
    EXPECT_EQ(r.state, load_failed);
    EXPECT_NE(r.reason.find("Permission denied"), std::string::npos) << r.reason;
}

class Echantillon : public ::testing::Test {
protected:
    void SetUp() override {
        std::memset(data3d, 0, grid_bytes);
        poke(0, 0, 0x1234, 5);
        poke(0, 11, 0x0AB1, -7);
        poke(6143, 4095, 0x7FFF, 127);
        poke(6143, 4094, 0x0001, -128);
        poke(0, 4095, 0x2222, 9);
    }
    static void poke(long long x, long long y, uint16_t c, int8_t h) {
        unsigned char *p = data3d + 3 * (y * grid_columns + x);
        p[0] = static_cast<unsigned char>(c >> 8), p[1] = static_cast<unsigned char>(c), p[2] = static_cast<unsigned char>(h);
    }
};

TEST_F(Echantillon, EdgesWrapRowsAndStopAtTheLastCell) {
    struct row_case {
        long long x, y;
        uint16_t colour;
        int h;
    };
    const row_case table[] = {
        {0, 0, 0x1234, 5},
        {6143, 4095, 0x7FFF, 127},       // the last cell, ending at the grid's last byte
        {6144, 4094, 0x2222, 9},         // a column past the end continues into the next row
        {6143, 4094, 0x0001, -128},
        {6144, 10, 0x0AB1, -7},          // same cell as (0, 11)
        {6144, 4095, 0, 0},              // past the last cell
        {0, 4096, 0, 0},
        {12288, 4094, 0, 0},
        {0, 1LL << 40, 0, 0},            // far past the grid, as a large zoom asks
        {1LL << 38, 1LL << 38, 0, 0},
    };
    for (const row_case &c : table) {
        const map_cell s = lit_cellule(c.x, c.y);
        EXPECT_EQ(s.colour, c.colour) << c.x << "," << c.y;
        EXPECT_EQ(s.h, c.h) << c.x << "," << c.y;
    }
}

TEST_F(Echantillon, HeightByteIsSignedTwosComplement) {
    const std::pair<uint8_t, int> table[] = {{0x80, -128}, {0x7F, 127}, {0xFF, -1}, {0x00, 0}, {0x01, 1}};
    for (auto [byte_at, h] : table) {
        data3d[2] = byte_at;
        EXPECT_EQ(lit_cellule(0, 0).h, h) << int(byte_at);
    }
}

TEST(ColourChannels, ChannelsAreTheFiveBitFieldsTimesEight) {
    struct row_case {
        uint8_t hi, lo, r, g, b;
    };
    const row_case table[] = {
        {0x7F, 0xFF, 248, 248, 248}, {0xFF, 0xFF, 248, 248, 248}, {0x7C, 0x00, 248, 0, 0},
        {0x03, 0xE0, 0, 248, 0},     {0x00, 0x1F, 0, 0, 248},     {0x80, 0x00, 0, 0, 0},
        {0x04, 0x21, 8, 8, 8},       {0x2A, 0xAA, 80, 168, 80},
        {0x90, 0x84, 32, 32, 32},  // a void as mvx marks it: its grey, the mark ignored
    };
    for (const row_case &c : table) {
        const uint16_t v = static_cast<uint16_t>(c.hi << 8 | c.lo);
        EXPECT_EQ(couleur_r(v), c.r) << std::hex << v;
        EXPECT_EQ(couleur_g(v), c.g) << std::hex << v;
        EXPECT_EQ(couleur_b(v), c.b) << std::hex << v;
    }
}

}  // namespace
