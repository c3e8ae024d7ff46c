// The stand-in's encrypted sector store over a plain file: byte ranges of any alignment read
// back as written, the file holds AES-256-XTS of each sector under its number, and another
// key reads noise.

#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "testing/cryx/sector_store.h"
#include "testing/unique_fd.h"

namespace {

using zt_cryx::sector_cipher;
using zt_cryx::sector_key;
using zt_cryx::sector_size;
using zt_cryx::sector_store;
using bytes = std::vector<unsigned char>;

constexpr std::size_t kSectors = 64;
constexpr std::size_t kSize = kSectors * sector_size;

class SectorStore : public ::testing::Test {
  protected:
    void SetUp() override {
        char name[] = "/tmp/zt-cryx-store-XXXXXX";
        m_file.reset(mkstemp(name));
        ASSERT_TRUE(m_file);
        unlink(name);
        ASSERT_EQ(ftruncate(m_file.get(), kSize), 0);
        std::mt19937 random(7);
        for (auto& b : m_first) {
            b = static_cast<unsigned char>(random());
        }
    }

    // A store over the file under the key derived from first (given twice, as the daemon does).
    sector_store store(const std::array<unsigned char, 32>& first) const {
        sector_key key;
        std::error_code ec;
        EXPECT_TRUE(zt_cryx::derive_sector_key(first, first, key, ec)) << ec.message();
        sector_cipher cipher;
        EXPECT_TRUE(cipher.init(key, ec)) << ec.message();
        std::memcpy(m_derived.data(), key.data(), sector_key::size);
        return sector_store(m_file.get(), kSize, std::move(cipher));
    }

    static bytes read_all(sector_store& s) {
        const unsigned char* data = nullptr;
        const ssize_t n = s.read(0, kSize, &data);
        EXPECT_EQ(n, static_cast<ssize_t>(kSize));
        return n > 0 ? bytes(data, data + n) : bytes();
    }

    bytes file_bytes() const {
        bytes out(kSize);
        EXPECT_EQ(pread(m_file.get(), out.data(), kSize, 0), static_cast<ssize_t>(kSize));
        return out;
    }

    zt_testing::unique_fd m_file;
    std::array<unsigned char, 32> m_first{};
    mutable std::array<unsigned char, 64> m_derived{};
};

TEST_F(SectorStore, RangesOfAnyAlignmentReadBackAsWritten) {
    sector_store s = store(m_first);
    bytes model = read_all(s);  // whatever the zero file decrypts to
    struct row {
        std::size_t offset;
        std::size_t length;
    };
    // Inside one sector, across a boundary, whole sectors, and head and tail partial.
    const std::vector<row> rows{{3, 10},   {500, 30},   {512, 512},   {1000, 2100},
                                {0, 4096}, {4095, 1},   {7000, 5000}, {kSize - 700, 700},
                                {511, 2},  {1536, 513}, {0, kSize}};
    std::mt19937 random(11);
    for (const auto& r : rows) {
        bytes data(r.length);
        for (auto& b : data) {
            b = static_cast<unsigned char>(random());
        }
        ASSERT_EQ(s.write(r.offset, data.data(), r.length), static_cast<ssize_t>(r.length));
        std::copy(data.begin(), data.end(), model.begin() + static_cast<long>(r.offset));
        ASSERT_EQ(read_all(s), model) << r.offset << "+" << r.length;
        const unsigned char* back = nullptr;
        ASSERT_EQ(s.read(r.offset, r.length, &back), static_cast<ssize_t>(r.length));
        EXPECT_EQ(bytes(back, back + r.length), data) << r.offset << "+" << r.length;
    }
    // Zeroing, as discards do.
    ASSERT_EQ(s.write(100, nullptr, 1000), 1000);
    std::fill_n(model.begin() + 100, 1000, 0);
    EXPECT_EQ(read_all(s), model);
}

TEST_F(SectorStore, FileHoldsEachSectorEncryptedUnderItsNumber) {
    sector_store s = store(m_first);
    const bytes plain(kSize, 'A');  // every sector alike: only the tweak tells them apart
    ASSERT_EQ(s.write(0, plain.data(), kSize), static_cast<ssize_t>(kSize));
    const bytes stored = file_bytes();

    EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
    for (std::size_t sector = 0; sector < kSectors; ++sector) {
        unsigned char tweak[16] = {};
        for (int i = 0; i < 8; ++i) {
            tweak[i] = static_cast<unsigned char>(sector >> (8 * i));
        }
        unsigned char expected[sector_size];
        int written = 0;
        ASSERT_EQ(EVP_EncryptInit_ex(ctx, EVP_aes_256_xts(), nullptr, m_derived.data(), tweak), 1);
        ASSERT_EQ(EVP_EncryptUpdate(ctx, expected, &written, plain.data(), sector_size), 1);
        EXPECT_EQ(std::memcmp(expected, stored.data() + sector * sector_size, sector_size), 0)
            << "sector " << sector;
    }
    EVP_CIPHER_CTX_free(ctx);

    // The same key reads it back; another reads noise.
    sector_store same = store(m_first);
    EXPECT_EQ(read_all(same), plain);
    auto other = m_first;
    other[0] ^= 1;
    sector_store wrong = store(other);
    const bytes noise = read_all(wrong);
    EXPECT_EQ(std::search(noise.begin(), noise.end(), plain.begin(), plain.begin() + 16),
              noise.end());
}

TEST_F(SectorStore, StaysWithinTheDevice) {
    sector_store s = store(m_first);
    const bytes data(1024, 'x');
    EXPECT_EQ(s.write(kSize, data.data(), data.size()), -ENOSPC);
    EXPECT_EQ(s.write(kSize - 100, data.data(), data.size()), 100);
    const unsigned char* back = nullptr;
    EXPECT_EQ(s.read(kSize, 10, &back), 0);
    EXPECT_EQ(s.read(kSize - 100, 1000, &back), 100);
    EXPECT_EQ(bytes(back, back + 100), bytes(100, 'x'));
}

}  // namespace
