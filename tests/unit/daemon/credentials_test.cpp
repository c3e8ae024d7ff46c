#include "daemon/credentials.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

class CredentialsFile : public ::testing::Test {
  protected:
    void SetUp() override {
        char pattern[] = "/tmp/zt-credentials-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        m_dir = pattern;
    }
    void TearDown() override { std::filesystem::remove_all(m_dir); }

    std::string write(const std::vector<unsigned char>& bytes) {
        const std::string path = m_dir + "/service.bin";
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(bytes.data()),
                  static_cast<std::streamsize>(bytes.size()));
        return path;
    }

    std::string m_dir;
};

std::vector<unsigned char> counting(std::size_t size, unsigned char first = 0) {
    std::vector<unsigned char> bytes(size);
    for (std::size_t i = 0; i < size; ++i) {
        bytes[i] = static_cast<unsigned char>(first + i);
    }
    return bytes;
}

TEST_F(CredentialsFile, SecretBecomesLowerCaseHexAndTheRestIsTheContainer) {
    auto bytes = counting(32, 0xF0);  // crosses 0xFF -> 0x00, so padding and case show
    const std::vector<unsigned char> container = {0x30, 0x82, 0x00, 0x0A, 0xFF};
    bytes.insert(bytes.end(), container.begin(), container.end());
    std::error_code ec;
    const auto credentials = load_credentials(write(bytes), ec);
    EXPECT_FALSE(ec);
    EXPECT_EQ(credentials.first,
              L"f0f1f2f3f4f5f6f7f8f9fafbfcfdfeff000102030405060708090a0b0c0d0e0f");
    EXPECT_EQ(credentials.second, container);
}

TEST_F(CredentialsFile, ThirtyTwoBytesOrFewerGiveNoContainer) {
    for (std::size_t size : {0u, 1u, 31u, 32u}) {
        std::error_code ec;
        const auto credentials = load_credentials(write(counting(size)), ec);
        EXPECT_FALSE(ec) << size;
        EXPECT_TRUE(credentials.second.empty()) << size;
    }
}

TEST_F(CredentialsFile, OneByteBeyondTheSecretIsAContainer) {
    std::error_code ec;
    const auto credentials = load_credentials(write(counting(33)), ec);
    EXPECT_FALSE(ec);
    EXPECT_EQ(credentials.first.size(), 64u);
    EXPECT_EQ(credentials.second, std::vector<unsigned char>{32});
}

TEST_F(CredentialsFile, MissingFileReportsWhyAndGivesNothing) {
    std::error_code ec;
    const auto credentials = load_credentials(m_dir + "/absent.bin", ec);
    EXPECT_EQ(ec.value(), ENOENT);
    EXPECT_TRUE(credentials.first.empty());
    EXPECT_TRUE(credentials.second.empty());
}

TEST_F(CredentialsFile, LargeContainerIsKeptByteForByte) {
    const auto bytes = counting(32 + 70000, 7);
    std::error_code ec;
    const auto credentials = load_credentials(write(bytes), ec);
    EXPECT_FALSE(ec);
    EXPECT_EQ(credentials.second, std::vector<unsigned char>(bytes.begin() + 32, bytes.end()));
}

}  // namespace
