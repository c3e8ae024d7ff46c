#include "daemon/credentials.h"

#include <gtest/gtest.h>
#include <sys/random.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <memory>
#include <numeric>
#include <string>
#include <vector>

#include "../database/freed_memory.h"
#include "crypto/crypto_factory.h"
#include "database/database.h"
#include "system/cast.h"
#include "system/text.h"

namespace {

class CredentialsFile : public ::testing::Test {
  protected:
    void TearDown() override { std::filesystem::remove(m_path); }

    // Loads a service file of bytes; ec tells whether it could be read.
    auto load(const std::vector<unsigned char>& bytes, std::error_code& ec) {
        std::ofstream(m_path, std::ios::binary | std::ios::trunc)
            .write(reinterpret_cast<const char*>(bytes.data()),
                   static_cast<std::streamsize>(bytes.size()));
        return load_credentials(m_path, ec);
    }

    const std::string m_path = ::testing::TempDir() + "zt-service-" + std::to_string(getpid());
};

// Bytes first, first + 1, ... (wrapping at 0xFF).
std::vector<unsigned char> counting(std::size_t size, unsigned char first) {
    std::vector<unsigned char> bytes(size);
    std::iota(bytes.begin(), bytes.end(), first);
    return bytes;
}

// Thirty-two bytes or fewer give no container; every byte beyond them is kept.
TEST_F(CredentialsFile, SecretBecomesLowerCaseHexAndTheRestIsTheContainer) {
    for (std::size_t size : {0u, 1u, 31u, 32u, 33u, 32u + 70000u}) {
        const auto bytes = counting(size, 0xF0);  // crosses 0xFF -> 0x00: padding and case show
        std::error_code ec;
        const auto credentials = load(bytes, ec);
        EXPECT_FALSE(ec) << size;
        EXPECT_EQ(credentials.second,
                  std::vector<unsigned char>(bytes.begin() + std::min<std::size_t>(size, 32),
                                             bytes.end()))
            << size;
        if (size > 32) {
            EXPECT_EQ(credentials.first,
                      L"f0f1f2f3f4f5f6f7f8f9fafbfcfdfeff000102030405060708090a0b0c0d0e0f");
        }
    }
}

// The file's image, the secret and its narrow hexadecimal text are wiped before they are
// freed; only the returned password and container remain.
TEST_F(CredentialsFile, LeavesNoCopyOfTheSecretInFreedMemory) {
    std::vector<unsigned char> file(32 + 4096);
    ASSERT_EQ(::getrandom(file.data(), file.size(), 0), static_cast<ssize_t>(file.size()));
    std::error_code ec;
    const std::vector<unsigned char> secret(file.begin(), file.begin() + 32);
    const std::string hex = util::hexlify(secret);
    load(file, ec);  // writes the file
    std::vector<std::vector<unsigned char>> watched = {
        secret, {hex.begin(), hex.end()}, {file.begin() + 32, file.begin() + 96}};
    testing_memory::freed_memory_probe probe(std::move(watched));
    const auto credentials = load_credentials(m_path, ec);
    probe.stop();
    ASSERT_FALSE(ec);
    EXPECT_EQ(credentials.second.size(), 4096u);
    EXPECT_EQ(probe.hits(), 0u);
}

}  // namespace

// A service directory written by an earlier build still opens: the database key comes from
// the service container alone, the same on every run and in every version.
TEST(StoredService, DatabaseOfAnEarlierBuildLoadsAndSavesUnderTheSameKey) {
    const std::filesystem::path stored = ZT_TEST_DATA_DIR "/service";
    const std::filesystem::path dir =
        ::testing::TempDir() + "zt-stored-" + std::to_string(getpid());
    std::filesystem::create_directories(dir);
    // Removed however the test ends.
    const std::unique_ptr<const std::filesystem::path, void (*)(const std::filesystem::path*)>
        cleanup(&dir, [](const std::filesystem::path* p) { std::filesystem::remove_all(*p); });
    std::filesystem::copy_file(stored / "database.bin", dir / "database.bin");
    std::error_code ec;
    const auto credentials = load_credentials(stored / "service.bin", ec);
    ASSERT_FALSE(ec) << ec.message();
    for (int round = 0; round < 2; ++round) {  // the file as stored, then as saved again
        crypto_factory factory;
        std::vector<unsigned char> seed(32);
        ASSERT_EQ(::getrandom(seed.data(), seed.size(), 0), 32);
        ASSERT_TRUE(factory.initialize(seed));
        Database database;
        ASSERT_TRUE(database.crypto_service().initialize(factory, ec)) << ec.message();
        ASSERT_TRUE(database.load(dir / "database.bin", credentials, ec)) << ec.message();
        const auto admins = database.get_admin_list();
        ASSERT_EQ(admins.size(), 1u);
        EXPECT_EQ(admins.front()->name(), "admin");
        // Its administrator's password (outside ASCII, inside the basic plane) still opens
        // the container it was given.
        const auto& container = admins.front()->container();
        auto agreement = factory.self()->create_key_agreement(L"");
        EXPECT_NO_THROW(agreement->import_container(
            container.data(), container.size(),
            cast::to_wstring("\xd0\xbf\xd0\xb0\xd1\x80\xd0\xbe\xd0\xbb\xd1\x8c "
                             "\xc3\xbc\xe2\x82\xac made before")));
        ASSERT_TRUE(database.save(ec)) << ec.message();
    }
}
