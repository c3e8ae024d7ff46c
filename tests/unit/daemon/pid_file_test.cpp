#include "daemon/pid_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>

namespace {

namespace fs = std::filesystem;

class PidFile : public ::testing::Test {
  protected:
    void SetUp() override {
        char pattern[] = "/tmp/zt-pid-XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        m_dir = pattern;
    }
    void TearDown() override { fs::remove_all(m_dir); }

    std::optional<std::string> content(const std::string& path) const {
        std::ifstream in(path);
        if (!in) {
            return std::nullopt;
        }
        return std::string(std::istreambuf_iterator<char>(in), {});
    }

    std::string m_dir;
};

// The running instance keeps the file: a second one neither rewrites nor removes it, and
// the first removes it when it ends. A stale file of an earlier run is taken over.
TEST_F(PidFile, SecondInstanceLeavesTheFileOfTheRunningOne) {
    const std::string path = m_dir + "/ztctld.pid";
    std::ofstream(path) << "4242424242 stale\n";
    pid_file first;
    ASSERT_TRUE(first.acquire(path, 17));
    EXPECT_EQ(content(path), "17\n");
    EXPECT_EQ(fs::status(path).permissions(), fs::perms(0644));

    pid_file second;
    EXPECT_FALSE(second.acquire(path, 18));
    second.remove();
    EXPECT_EQ(content(path), "17\n");

    first.remove();
    EXPECT_FALSE(fs::exists(path));
    ASSERT_TRUE(second.acquire(path, 18));
    EXPECT_EQ(content(path), "18\n");
}

// A link or a special file planted at the path is neither followed nor replaced.
TEST_F(PidFile, LinkOrSpecialFileAtThePathIsLeftAlone) {
    const std::string target = m_dir + "/target";
    std::ofstream(target) << "precious";
    ASSERT_EQ(::symlink(target.c_str(), (m_dir + "/link").c_str()), 0);
    ASSERT_EQ(::mkfifo((m_dir + "/fifo").c_str(), 0600), 0);
    for (const char* name : {"/link", "/fifo"}) {
        const std::string path = m_dir + name;
        const auto type = fs::symlink_status(path).type();
        pid_file file;
        EXPECT_FALSE(file.acquire(path, 17)) << name;
        file.remove();
        EXPECT_EQ(fs::symlink_status(path).type(), type) << name;
    }
    EXPECT_EQ(content(target), "precious");
}

}  // namespace
