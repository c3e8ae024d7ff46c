#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <filesystem>
#include <string>

// A private directory, removed with everything in it when the test ends.
class TempDir : public ::testing::Test {
  protected:
    void SetUp() override {
        char pattern[] = "/tmp/zt-system-XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        m_dir = pattern;
    }
    void TearDown() override {
        std::error_code ignored;
        std::filesystem::remove_all(m_dir, ignored);
    }
    std::string path(const std::string& name) const { return m_dir + "/" + name; }

    std::string m_dir;
};

// The lstat record of path (a link itself, not its target), and its permission bits.
inline struct stat stat_of(const std::string& path) {
    struct stat info {};
    EXPECT_EQ(::lstat(path.c_str(), &info), 0) << path;
    return info;
}
inline mode_t mode_of(const std::string& path) {
    return stat_of(path).st_mode & 07777;
}
