// The database file through the real provider: round trips, integrity, backups.
#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

#include "crypto/crypto_error.h"
#include "database/database.h"
#include "database/dberror.h"
#include "service_fixture.h"

namespace {

using testing_db::bytes;

bytes text(const std::string& s) {
    return bytes(s.begin(), s.end());
}

bytes read_all(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void write_all(const std::string& path, const bytes& data) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data.data()),
              static_cast<std::streamsize>(data.size()));
}

db::UserEntry user(std::uint64_t id, const std::string& name) {
    db::UserEntry entry;
    entry.set_id(id);
    entry.set_name(name);
    entry.set_container(
        text("container of " + name), [](const bytes& c) { return c; }, 1700000000);
    entry.set_parameter(text("token-" + name));
    entry.set_symmetric_material(bytes(1024, static_cast<unsigned char>(id)));
    return entry;
}

class DatabaseStore : public ::testing::Test {
  protected:
    void SetUp() override {
        m_factory = testing_db::seeded_factory();
        ASSERT_TRUE(m_factory);
        m_service = testing_db::make_service(m_factory);
        m_path = m_dir.file("database.bin");
    }

    // A database ready for load: the cipher initialised with the provider, as at start-up.
    std::unique_ptr<Database> fresh() {
        auto database = std::make_unique<Database>();
        std::error_code ec;
        EXPECT_TRUE(database->crypto_service().initialize(m_factory, ec)) << ec.message();
        return database;
    }

    std::unique_ptr<Database> load(std::error_code& ec, const std::string& path = {}) {
        auto database = fresh();
        database->load(path.empty() ? m_path : path, m_service, ec);
        return database;
    }

    // A provisioned, empty database file loaded and filled with a typical content.
    std::unique_ptr<Database> populated() {
        write_all(m_path, {});
        std::error_code ec;
        auto database = load(ec);
        EXPECT_FALSE(ec) << ec.message();
        db::AdminEntry admin;
        admin.set_id(1);
        admin.set_name("root");
        admin.set_container(
            text("admin container"), [](const bytes& c) { return c; }, 5);
        EXPECT_TRUE(database->insert_admin_entry(std::move(admin), ec));
        for (const char* name : {"alice", "bob", "carol"}) {
            const auto id = database->id_manager().obtain_id();
            EXPECT_TRUE(database->insert_user_entry(user(id, name), ec));
        }
        auto& disk = database->select_user_entry("bob")->disk();
        disk.guid().generate();
        disk.set_path("/srv/bob.img");
        disk.set_fs("ext4");
        disk.set_status(DiskStateInfo::created);
        database->id_manager().obtain_id();
        database->id_manager().release_id(4);
        database->update_storage(3, text("blob"));
        return database;
    }

    void expect_same(Database& a, Database& b) {
        ASSERT_EQ(a.get_user_list().size(), b.get_user_list().size());
        ASSERT_EQ(a.get_admin_list().size(), b.get_admin_list().size());
        for (const auto* entry : a.get_user_list()) {
            const auto* other = b.select_user_entry(entry->get_id());
            ASSERT_NE(other, nullptr);
            EXPECT_EQ(other->serialize(), entry->serialize());
        }
        for (const auto* entry : a.get_admin_list()) {
            const auto* other = b.select_admin_entry(entry->get_id());
            ASSERT_NE(other, nullptr);
            EXPECT_EQ(other->serialize(), entry->serialize());
        }
        EXPECT_EQ(a.get_from_storage(3), b.get_from_storage(3));
        EXPECT_EQ(a.id_manager().save().size(), b.id_manager().save().size());
        EXPECT_EQ(a.id_manager().released_ids(), b.id_manager().released_ids());
        EXPECT_EQ(a.id_manager().next_id(), b.id_manager().next_id());
    }

    testing_db::temp_dir m_dir;
    crypto_factory m_factory;
    testing_db::credentials m_service;
    std::string m_path;
};

TEST_F(DatabaseStore, SavedDatabaseLoadsBackEqual) {
    auto saved = populated();
    std::error_code ec;
    ASSERT_TRUE(saved->save(ec)) << ec.message();
    auto loaded = load(ec);
    ASSERT_FALSE(ec) << ec.message();
    expect_same(*saved, *loaded);
}

TEST_F(DatabaseStore, FileIsIvAndWholeBlocksOfCiphertext) {
    auto saved = populated();
    std::error_code ec;
    ASSERT_TRUE(saved->save(ec));
    Serializer file;
    file.deserialize(read_all(m_path));
    ASSERT_EQ(file.size(), 2u);
    EXPECT_EQ(file[0].size(), saved->crypto_service().get_iv_size());
    const std::size_t body = saved->serialize().size();
    const std::size_t padded = (body + 15) / 16 * 16;
    EXPECT_EQ(file[1].size(), padded + 32);  // body, zero padding, SHA-256 digest
    // The plaintext never reaches the file.
    const bytes content = read_all(m_path);
    const bytes name = text("token-alice");
    EXPECT_EQ(std::search(content.begin(), content.end(), name.begin(), name.end()), content.end());
}

TEST_F(DatabaseStore, TwoSavesDifferAndBothLoad) {
    auto saved = populated();
    std::error_code ec;
    ASSERT_TRUE(saved->save(ec));
    const bytes first = read_all(m_path);
    ASSERT_TRUE(saved->save(ec));
    const bytes second = read_all(m_path);
    EXPECT_NE(first, second);

    auto from_second = load(ec);
    ASSERT_FALSE(ec) << ec.message();
    expect_same(*saved, *from_second);
    write_all(m_path, first);
    auto from_first = load(ec);
    ASSERT_FALSE(ec) << ec.message();
    expect_same(*saved, *from_first);
}

TEST_F(DatabaseStore, MountedDiskLoadsAsUnmounted) {
    auto saved = populated();
    saved->select_user_entry("bob")->disk().set_status(DiskStateInfo::mounted);
    std::error_code ec;
    ASSERT_TRUE(saved->save(ec));
    auto loaded = load(ec);
    ASSERT_FALSE(ec);
    EXPECT_EQ(loaded->select_user_entry("bob")->disk().get_status(), DiskStateInfo::unmounted);
}

TEST_F(DatabaseStore, EmptyFileIsAnEmptyDatabase) {
    write_all(m_path, {});
    std::error_code ec;
    auto database = load(ec);
    EXPECT_FALSE(ec) << ec.message();
    EXPECT_TRUE(database->get_user_list().empty());
    EXPECT_EQ(database->id_manager().next_id(), 1u);
    // and the first save writes a full file
    ASSERT_TRUE(database->save(ec));
    EXPECT_GT(read_all(m_path).size(), 58u);
}

TEST_F(DatabaseStore, MissingFileFailsWithTheExistenceError) {
    std::error_code ec;
    auto database = load(ec);
    EXPECT_EQ(ec, std::error_code(ENOENT, std::system_category()));
}

TEST_F(DatabaseStore, FailedLoadNeverReplacesTheFileItCouldNotRead) {
    const bytes garbage = text("this is not a database file at all");
    write_all(m_path, garbage);
    std::error_code ec;
    auto database = load(ec);
    ASSERT_TRUE(ec);
    std::error_code save_error;
    EXPECT_FALSE(database->save(save_error));
    EXPECT_TRUE(save_error);
    EXPECT_FALSE(database->backup(save_error));
    EXPECT_EQ(read_all(m_path), garbage);
}

TEST_F(DatabaseStore, EveryFlippedByteFailsTheLoad) {
    auto saved = populated();
    std::error_code ec;
    ASSERT_TRUE(saved->save(ec));
    const bytes good = read_all(m_path);
    for (std::size_t at = 0; at < good.size(); ++at) {
        bytes bad = good;
        bad[at] ^= 0x01;
        write_all(m_path, bad);
        std::error_code error;
        auto loaded = load(error);
        ASSERT_TRUE(error) << "byte " << at << " flipped and the load succeeded";
        EXPECT_TRUE(error == database_error::corrupted || &error.category() == &crypto_category())
            << at << ": " << error.message();
        EXPECT_TRUE(loaded->get_user_list().empty()) << at;
        EXPECT_TRUE(loaded->get_admin_list().empty()) << at;
    }
}

TEST_F(DatabaseStore, TruncatedFileFailsTheLoad) {
    auto saved = populated();
    std::error_code ec;
    ASSERT_TRUE(saved->save(ec));
    const bytes good = read_all(m_path);
    for (std::size_t length = 1; length < good.size(); length += 5) {
        write_all(m_path, bytes(good.begin(), good.begin() + static_cast<std::ptrdiff_t>(length)));
        std::error_code error;
        auto loaded = load(error);
        ASSERT_TRUE(error) << "truncated to " << length;
        EXPECT_TRUE(loaded->get_user_list().empty());
    }
    // Cut exactly at a block boundary inside the ciphertext: still refused.
    write_all(m_path, bytes(good.begin(), good.end() - 16));
    std::error_code error;
    load(error);
    EXPECT_TRUE(error);
}

TEST_F(DatabaseStore, FileOfAnotherServiceFailsTheLoad) {
    auto saved = populated();
    std::error_code ec;
    ASSERT_TRUE(saved->save(ec));
    m_service = testing_db::make_service(m_factory);  // a different service container
    auto loaded = load(ec);
    EXPECT_EQ(ec, database_error::corrupted) << ec.message();
    EXPECT_TRUE(loaded->get_user_list().empty());
}

TEST_F(DatabaseStore, WrongServicePasswordFailsWithInvalidPassword) {
    write_all(m_path, {});
    m_service.first.back() = m_service.first.back() == L'0' ? L'1' : L'0';
    std::error_code ec;
    load(ec);
    EXPECT_EQ(ec, crypto_error::invalid_password);
}

// A provider whose hash cannot be created: the integrity check cannot run.
class hashless_provider : public CryptoFactoryDef {
  public:
    std::shared_ptr<HashAlgorithmBase> create_hash(const std::wstring&) override {
        throw Exception("no hash here", Exception::backend_failure, "create_hash");
    }
};

TEST_F(DatabaseStore, HashThatCannotBeInitialisedFailsTheLoad) {
    auto saved = populated();
    std::error_code ec;
    ASSERT_TRUE(saved->save(ec));

    crypto_factory broken([] { return std::make_shared<hashless_provider>(); });
    ASSERT_TRUE(broken.initialize(bytes(32, 7)));
    Database database;
    ASSERT_TRUE(database.crypto_service().initialize(broken, ec));
    EXPECT_FALSE(database.load(m_path, m_service, ec));
    EXPECT_EQ(ec, std::errc::not_enough_memory);
    EXPECT_TRUE(database.get_user_list().empty());
}

TEST_F(DatabaseStore, BackupThenSaveKeepsBothVersions) {
    auto database = populated();
    std::error_code ec;
    ASSERT_TRUE(database->save(ec));
    const bytes first = read_all(m_path);

    ASSERT_TRUE(database->backup(ec)) << ec.message();
    EXPECT_EQ(read_all(m_path), first);  // the database file stays where it is
    ASSERT_TRUE(database->insert_user_entry(user(database->id_manager().obtain_id(), "dave"), ec));
    ASSERT_TRUE(database->save(ec));
    EXPECT_FALSE(ec);

    EXPECT_EQ(read_all(m_path + ".back"), first);
    auto previous = load(ec, m_path + ".back");
    ASSERT_FALSE(ec);
    EXPECT_EQ(previous->select_user_entry("dave"), nullptr);
    auto current = load(ec);
    ASSERT_FALSE(ec);
    EXPECT_NE(current->select_user_entry("dave"), nullptr);
}

TEST_F(DatabaseStore, BackupReplacesAnOlderBackup) {
    auto database = populated();
    std::error_code ec;
    ASSERT_TRUE(database->save(ec));
    ASSERT_TRUE(database->backup(ec));
    ASSERT_TRUE(database->save(ec));
    const bytes second = read_all(m_path);
    ASSERT_TRUE(database->backup(ec));
    EXPECT_EQ(read_all(m_path + ".back"), second);
}

TEST_F(DatabaseStore, BackupWithoutDatabaseFileFails) {
    auto database = populated();
    ::unlink(m_path.c_str());
    std::error_code ec;
    EXPECT_FALSE(database->backup(ec));
    EXPECT_EQ(ec, std::errc::no_such_file_or_directory);
}

TEST_F(DatabaseStore, SaveThatCannotWriteAfterBackupLeavesTheDatabaseReadable) {
    auto database = populated();
    std::error_code ec;
    ASSERT_TRUE(database->save(ec));
    const bytes first = read_all(m_path);
    ASSERT_TRUE(database->backup(ec));

    // The new file is written beside the old one; make that impossible, even for root.
    ASSERT_EQ(::mkdir((m_path + ".new").c_str(), 0700), 0);
    ASSERT_TRUE(database->insert_user_entry(user(database->id_manager().obtain_id(), "dave"), ec));
    EXPECT_FALSE(database->save(ec));
    EXPECT_TRUE(ec);

    EXPECT_EQ(read_all(m_path), first);
    std::error_code load_error;
    auto loaded = load(load_error);
    ASSERT_FALSE(load_error) << load_error.message();
    EXPECT_EQ(loaded->select_user_entry("dave"), nullptr);
    EXPECT_EQ(loaded->get_user_list().size(), 3u);
}

TEST_F(DatabaseStore, SaveOnReadOnlyDirectoryAfterBackupLeavesTheDatabaseReadable) {
    auto database = populated();
    std::error_code ec;
    ASSERT_TRUE(database->save(ec));
    const bytes first = read_all(m_path);
    ASSERT_TRUE(database->backup(ec));
    ASSERT_TRUE(database->insert_user_entry(user(database->id_manager().obtain_id(), "dave"), ec));

    // The directory turns read-only between backup and save. Root ignores permission
    // bits, so root gets a read-only bind mount in a mount namespace of its own.
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (::geteuid() == 0) {
            if (::unshare(CLONE_NEWNS) != 0 ||
                ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
                ::mount(m_dir.path().c_str(), m_dir.path().c_str(), nullptr, MS_BIND, nullptr) !=
                    0 ||
                ::mount(nullptr, m_dir.path().c_str(), nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY,
                        nullptr) != 0) {
                ::_exit(77);
            }
        } else if (::chmod(m_dir.path().c_str(), 0500) != 0) {
            ::_exit(77);
        }
        std::error_code error;
        const bool saved = database->save(error);
        ::_exit(!saved && error == std::errc::read_only_file_system ? 0
                : !saved && error == std::errc::permission_denied   ? 0
                                                                    : 1);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ::chmod(m_dir.path().c_str(), 0700);
    ASSERT_TRUE(WIFEXITED(status));
    if (WEXITSTATUS(status) == 77) {
        GTEST_SKIP() << "cannot make the directory read-only here (no mount namespace)";
    }
    EXPECT_EQ(WEXITSTATUS(status), 0) << "the save did not fail as expected";

    EXPECT_EQ(read_all(m_path), first);
    std::error_code load_error;
    auto loaded = load(load_error);
    ASSERT_FALSE(load_error) << load_error.message();
    EXPECT_EQ(loaded->get_user_list().size(), 3u);
    auto backup = load(load_error, m_path + ".back");
    EXPECT_FALSE(load_error);
}

TEST_F(DatabaseStore, SaveWithoutCipherFailsAndLeavesTheFileAlone) {
    auto database = populated();
    std::error_code ec;
    ASSERT_TRUE(database->save(ec));
    const bytes first = read_all(m_path);
    database->crypto_service().reset();
    EXPECT_FALSE(database->save(ec));
    EXPECT_EQ(ec, crypto_error::encryptor_not_created);
    EXPECT_EQ(read_all(m_path), first);
}

TEST_F(DatabaseStore, SavedFileIsPrivateToItsOwner) {
    auto database = populated();
    std::error_code ec;
    ASSERT_TRUE(database->save(ec));
    struct stat info {};
    ASSERT_EQ(::stat(m_path.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0600u);
    EXPECT_NE(::access((m_path + ".new").c_str(), F_OK), 0);
}

}  // namespace
