// The confined child: what it may no longer do once confined, and how its parent sees it end.
#include "sandbox/child.h"
#include "sandbox/landlock.h"

#include "tests/unit/scratch.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <arpa/inet.h>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <netinet/in.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace {

class Child : public Scratch {
protected:
    std::string at(const std::string &name) const { return dir + "/" + name; }
    void SetUp() override {
        Scratch::SetUp();
        for (const char *name : {"vetted", "other"}) std::ofstream(at(name)) << "bytes";
    }
    // Runs `attempt` in a child confined to read only "vetted": its exit status (0: it succeeded).
    int confined(const std::function<bool()> &attempt, uint64_t memory = 256ULL << 20) {
        Confinement c;
        c.memory = memory;
        const ChildEnd end = run_confined(c, [&](const Channel &) {
            int abi = 0;
            if (!restrict_to({at("vetted")}, abi).ok || abi == 0) return 2;
            return attempt() ? 0 : 1;
        }, [](uint8_t, const std::string &) {});
        EXPECT_EQ(end.signal, 0);
        EXPECT_TRUE(end.seccomp);
        return end.status;
    }
    bool opens(const std::string &name, int flags) const {
        const int fd = open(at(name).c_str(), flags | O_CLOEXEC, 0644);
        if (fd >= 0) close(fd);
        return fd >= 0;
    }
};

TEST_F(Child, ConfinedReadsOnlyWhatItWasGivenAndChangesNothing) {
    ASSERT_GT(landlock_abi(), 0) << "this kernel has no Landlock";
    struct Row {
        const char *what;
        std::function<bool()> attempt;
        int status;  // 0: allowed, 1: denied
    };
    const Row rows[] = {
        {"read the vetted file", [&] { return opens("vetted", O_RDONLY); }, 0},
        {"read another file", [&] { return opens("other", O_RDONLY); }, 1},
        {"write the vetted file", [&] { return opens("vetted", O_WRONLY); }, 1},
        {"create a file", [&] { return opens("new", O_WRONLY | O_CREAT); }, 1},
        {"rename a file", [&] { return rename(at("other").c_str(), at("moved").c_str()) == 0; }, 1},
        {"remove a file", [&] { return unlink(at("other").c_str()) == 0; }, 1},
        {"open a socket", [] {
             const int s = socket(AF_INET, SOCK_STREAM, 0);
             if (s >= 0) close(s);
             return s >= 0;
         }, 1},
        {"open a Unix socket", [] { return socket(AF_UNIX, SOCK_STREAM, 0) >= 0; }, 1},
        {"run a program", [] {
             char *argv[] = {const_cast<char *>("true"), nullptr};
             execv("/bin/true", argv);
             return false;  // still here: refused
         }, 1},
        {"start a process", [] {
             const pid_t p = fork();
             if (p == 0) _exit(0);
             return p > 0;
         }, 1},
        {"signal its parent", [] { return kill(getppid(), 0) == 0; }, 1},
    };
    for (const Row &r : rows) EXPECT_EQ(confined(r.attempt), r.status) << r.what;
    EXPECT_TRUE(std::ifstream(at("other")).good()) << "the other file is left";
}

TEST_F(Child, AnAllocationPastTheLimitFails) {
    if (!memory_limit_works()) GTEST_SKIP() << "no memory limit under AddressSanitizer";
    EXPECT_EQ(confined([] {
        void *p = std::malloc(512ULL << 20);
        std::free(p);
        return p != nullptr;
    }, 256ULL << 20), 1);
    EXPECT_EQ(confined([] { return std::string(400u << 20, 'x').size() > 0; }, 256ULL << 20), 71) << "bad_alloc";
}

TEST_F(Child, ItsParentHearsItsMessagesInOrderAndSeesHowItEnded) {
    struct Row {
        const char *what;
        int stall_seconds;
        std::function<int(const Channel &)> body;
        bool stalled;
        int signal, status;
        bool broken;
    };
    const Row rows[] = {
        {"ends well", 60, [](const Channel &out) { out.send(7, "a"), out.send(8, std::string(100000, 'b')); return 0; }, false, 0, 0, false},
        {"fails", 60, [](const Channel &) { return 3; }, false, 0, 3, false},
        {"aborts", 60, [](const Channel &) { std::abort(); return 0; }, false, SIGABRT, 0, false},
        {"falls silent", 1, [](const Channel &) { pause(); return 0; }, true, SIGKILL, 0, false},
        {"sends half a message", 60, [](const Channel &) { return write(3, "\x07\x10\0\0\0ab", 7) == 7 ? 0 : 1; }, false, 0, 0, true},
        {"sends too much", 60, [](const Channel &) { return write(3, "\x07\xff\xff\xff\xff", 5) == 5 ? 0 : 1; }, false, 0, 0, true},
        {"sends from two threads at once", 60, [](const Channel &out) {
             auto say = [&] {
                 for (int i = 0; i < 300; ++i) out.send(7, std::string(100, 'c'));
                 out.send(8, std::string(100000, 'd'));
             };
             std::thread other(say);
             say();
             other.join();
             return 0;
         }, false, 0, 0, false},
    };
    for (const Row &r : rows) {
        Confinement c;
        c.stall_seconds = r.stall_seconds;
        std::string heard;
        const ChildEnd end = run_confined(c, r.body, [&](uint8_t tag, const std::string &p) { heard += std::to_string(tag) + ":" + std::to_string(p.size()) + " "; });
        EXPECT_EQ(end.stalled, r.stalled) << r.what;
        if (!r.broken || end.signal == 0) {
            EXPECT_EQ(end.signal, r.signal) << r.what;
        }
        EXPECT_EQ(end.status, r.status) << r.what;
        EXPECT_EQ(end.broke_protocol, r.broken) << r.what;
        if (r.what == std::string("ends well")) {
            EXPECT_EQ(heard, "7:1 8:100000 ");
        }
        if (r.what == std::string("sends from two threads at once")) {
            EXPECT_EQ(std::count(heard.begin(), heard.end(), ' '), 602);
        }
    }
}

}  // namespace
