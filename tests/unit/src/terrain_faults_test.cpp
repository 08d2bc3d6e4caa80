// Loading when the file misbehaves under the reader: it shrinks mid-read, or a read fails.
// This binary is linked with --wrap=read, so the loader's reads pass through __wrap_read below.
#include "src/terrain.h"

#include "tests/unit/scratch.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <string>
#include <unistd.h>
#include <vector>

extern "C" ssize_t __real_read(int fd, void *buf, size_t n);

namespace {

enum class fault { none, shrink, eio, eintr };
fault mode = fault::none;
std::string path;       // the file being loaded
long long after = 0;      // bytes delivered before the fault strikes
long long cut_to = 0;   // what a shrinking file is cut to
long long delivered = 0;
bool interrupted = false;

}  // namespace

extern "C" ssize_t __wrap_read(int fd, void *buf, size_t n) {
    if (mode != fault::none && delivered >= after) {
        switch (mode) {
        case fault::shrink:
            if (truncate(path.c_str(), cut_to) != 0) return -1;
            mode = fault::none;  // from here on the file really is shorter
            break;
        case fault::eio: errno = EIO; return -1;
        case fault::eintr:
            if (!interrupted) {
                interrupted = true;
                errno = EINTR;
                return -1;
            }
            break;
        case fault::none: break;
        }
    }
    ssize_t k = __real_read(fd, buf, n);
    if (k > 0) delivered += k;
    return k;
}

namespace {

class ReadFault : public Scratch {
protected:
    void SetUp() override {
        Scratch::SetUp();
        path = dir + "/datas.mvx";
        std::vector<char> b(static_cast<size_t>(grid_bytes));
        for (long long o = 0; o < grid_bytes; ++o) b[o] = static_cast<char>(o % 251 + 1);
        std::ofstream(path, std::ios::binary).write(b.data(), grid_bytes);
        std::memset(data3d, 0xAA, grid_bytes);
        delivered = 0, interrupted = false;
    }
    void TearDown() override {
        mode = fault::none;
        Scratch::TearDown();
    }
    // The grid holds the file's first n bytes and zeros after them.
    static bool holds_prefix(long long n) {
        for (long long o = 0; o < grid_bytes; ++o)
            if (data3d[o] != (o < n ? o % 251 + 1 : 0)) return false;
        return true;
    }
};

TEST_F(ReadFault, FileShrinkingMidReadLoadsWhatWasThereAndWarns) {
    // After 1000 rows the file is cut 777 bytes into the next row.
    mode = fault::shrink, after = 1000 * row_bytes, cut_to = after + 777;
    const load_result r = charge_terrain(path.c_str());
    EXPECT_EQ(r.state, load_short);
    EXPECT_EQ(r.bytes_read, cut_to);
    EXPECT_TRUE(holds_prefix(cut_to));
    EXPECT_NE(r.reason.find(std::to_string(cut_to) + " of 75497472"), std::string::npos) << r.reason;
}

TEST_F(ReadFault, ReadErrorFailsNamingTheCause) {
    mode = fault::eio, after = 5 * row_bytes;
    const load_result r = charge_terrain(path.c_str());
    EXPECT_EQ(r.state, load_failed);
    EXPECT_NE(r.reason.find(path), std::string::npos) << r.reason;
    EXPECT_NE(r.reason.find("Input/output error"), std::string::npos) << r.reason;
}

TEST_F(ReadFault, InterruptedReadIsRetried) {
    mode = fault::eintr, after = 3 * row_bytes + 10;
    const load_result r = charge_terrain(path.c_str());
    EXPECT_EQ(r.state, load_ok);
    EXPECT_TRUE(interrupted);
    EXPECT_TRUE(holds_prefix(grid_bytes));
}

}  // namespace
