// Fixture base for tests that write files: a fresh directory per test, removed with its contents after.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

class Scratch : public ::testing::Test {
protected:
    std::string dir;
    void SetUp() override {
        std::string t = ::testing::TempDir() + "morvath-XXXXXX";
        ASSERT_NE(mkdtemp(t.data()), nullptr) << t;
        dir = t;
    }
    void TearDown() override {
        std::error_code e;
        std::filesystem::remove_all(dir, e);
    }
};
