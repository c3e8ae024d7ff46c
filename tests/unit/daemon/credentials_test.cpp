#include "daemon/credentials.h"

#include <gtest/gtest.h>

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

    // Loads a service file of bytes; ec tells whether it could be read.
    auto load(const std::vector<unsigned char>& bytes, std::error_code& ec) {
        const std::string path = m_dir + "/service.bin";
        std::ofstream(path, std::ios::binary | std::ios::trunc)
            .write(reinterpret_cast<const char*>(bytes.data()),
                   static_cast<std::streamsize>(bytes.size()));
        return load_credentials(path, ec);
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
    const auto credentials = load(bytes, ec);
    EXPECT_FALSE(ec);
    EXPECT_EQ(credentials.first,
              L"f0f1f2f3f4f5f6f7f8f9fafbfcfdfeff000102030405060708090a0b0c0d0e0f");
    EXPECT_EQ(credentials.second, container);
}

// Thirty-two bytes or fewer give no container; every byte beyond them is kept.
TEST_F(CredentialsFile, ContainerIsEverythingAfterTheFirstThirtyTwoBytes) {
    for (std::size_t size : {0u, 1u, 31u, 32u, 33u, 32u + 70000u}) {
        const auto bytes = counting(size, 7);
        std::error_code ec;
        const auto credentials = load(bytes, ec);
        EXPECT_FALSE(ec) << size;
        EXPECT_EQ(credentials.second,
                  std::vector<unsigned char>(bytes.begin() + std::min<std::size_t>(size, 32),
                                             bytes.end()))
            << size;
    }
}

TEST_F(CredentialsFile, MissingFileReportsWhyAndGivesNothing) {
    std::error_code ec;
    const auto credentials = load_credentials(m_dir + "/absent.bin", ec);
    EXPECT_EQ(ec.value(), ENOENT);
    EXPECT_TRUE(credentials.first.empty());
    EXPECT_TRUE(credentials.second.empty());
}

}  // namespace
