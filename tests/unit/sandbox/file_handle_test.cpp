// GDAL's read handle on a descriptor: every seek and read gives what the file holds there, whatever the window held.
#include "sandbox/file_handle.h"

#include "tests/unit/scratch.h"

#include <fcntl.h>
#include <gtest/gtest.h>

#include <fstream>
#include <random>
#include <vector>

namespace {

class FileHandleTest : public Scratch {
protected:
    void SetUp() override {
        Scratch::SetUp();
        bytes.resize(700 << 10);
        for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(i * 7 + i / 251);
        std::ofstream(dir + "/f", std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    }
    FileHandle open_file() const { return FileHandle(open((dir + "/f").c_str(), O_RDONLY | O_CLOEXEC)); }
    std::vector<char> bytes;
};

// Reads that run on (the window widening past each step), that jump back into the window and out
// of it, that outgrow the window, that run past the end, and seeks from each origin.
TEST_F(FileHandleTest, ReadsWhatTheFileHoldsWherever) {
    const long long size = static_cast<long long>(bytes.size());
    struct Step {
        int whence;
        long long offset;
        size_t n;
    } steps[] = {{SEEK_SET, 0, 8},           {SEEK_CUR, 0, 1000},       {SEEK_CUR, 0, 5000},       {SEEK_CUR, 0, 20000},
                 {SEEK_SET, 10, 100},        {SEEK_CUR, 300000, 3000},  {SEEK_SET, 1, 400000},     {SEEK_END, -5, 100},
                 {SEEK_END, 10, 4},          {SEEK_SET, size - 4096, 4096}, {SEEK_CUR, 0, 1},     {SEEK_SET, 12345, 0},
                 {SEEK_SET, size - 1000, 300000}};
    FileHandle h = open_file();
    long long pos = 0;
    for (const Step &s : steps) {
        SCOPED_TRACE(testing::Message() << "whence " << s.whence << " offset " << s.offset << " n " << s.n);
        pos = (s.whence == SEEK_SET ? 0 : s.whence == SEEK_CUR ? pos : size) + s.offset;
        ASSERT_EQ(h.Seek(static_cast<vsi_l_offset>(pos), SEEK_SET), 0);
        std::vector<char> got(s.n + 1, '\x5a');
        const long long expected = std::max(0LL, std::min<long long>(static_cast<long long>(s.n), size - pos));
        EXPECT_EQ(h.Read(got.data(), 1, s.n), static_cast<size_t>(expected));
        EXPECT_TRUE(std::equal(got.begin(), got.begin() + expected, bytes.begin() + std::min(pos, size)));
        EXPECT_EQ(got[static_cast<size_t>(expected)], '\x5a');  // nothing past what was read
        EXPECT_EQ(h.Eof() != 0, expected < static_cast<long long>(s.n));
        pos += expected;
        EXPECT_EQ(h.Tell(), static_cast<vsi_l_offset>(pos));
    }
}

// A long random mix of seeks and reads, each checked against the file; whole records only, and
// reads at an offset that leave the position alone.
TEST_F(FileHandleTest, RandomReadsAgreeWithTheFile) {
    FileHandle h = open_file();
    std::mt19937 rng(7);
    size_t pos = 0;
    for (int i = 0; i < 3000; ++i) {
        if (rng() % 3 == 0) pos = rng() % (bytes.size() + 10), h.Seek(pos, SEEK_SET);
        const size_t size = rng() % 2 ? 1 : 4, count = rng() % 4 ? rng() % 3000 : rng() % 300000;
        std::vector<char> got(size * count);
        const size_t records = h.Read(got.data(), size, count);
        const size_t left = pos < bytes.size() ? bytes.size() - pos : 0;
        ASSERT_EQ(records, std::min(count, left / size)) << "read " << i;
        ASSERT_TRUE(std::equal(got.begin(), got.begin() + static_cast<long>(records * size), bytes.begin() + static_cast<long>(std::min(pos, bytes.size()))))
            << "read " << i;
        pos += std::min(size * count, left);
        const size_t at = rng() % bytes.size(), n = std::min<size_t>(rng() % 9000, bytes.size() - at);
        std::vector<char> part(n);
        ASSERT_EQ(h.PRead(part.data(), n, at), n);
        ASSERT_TRUE(std::equal(part.begin(), part.end(), bytes.begin() + static_cast<long>(at)));
        ASSERT_EQ(h.Tell(), pos);
    }
    EXPECT_EQ(h.Write("x", 1, 1), 0u);
    EXPECT_EQ(h.Close(), 0);
}

}  // namespace
