// The database file through the real provider: round trips, integrity, backups.
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "crypto/crypto_error.h"
#include "database/database.h"
#include "database/dberror.h"
#include "freed_memory.h"
#include "service_fixture.h"

namespace {

using namespace testing_db;

db::UserEntry user(std::uint64_t id, const std::string& name) {
    db::UserEntry entry;
    entry.set_id(id);
    entry.set_name(name);
    entry.set_container(
        text("container of " + name), [](const bytes& c) { return c; }, 17);
    entry.set_parameter(text("token-" + name));
    entry.set_symmetric_material(bytes(1024, static_cast<unsigned char>(id)));
    return entry;
}

class DatabaseStore : public ::testing::Test {
  protected:
    // A database loaded from path with the provider's cipher, as at start-up.
    std::unique_ptr<Database> load(std::error_code& ec, const std::string& path = {}) {
        auto database = std::make_unique<Database>();
        EXPECT_TRUE(database->crypto_service().initialize(m_factory, ec)) << ec.message();
        database->load(path.empty() ? m_path : path, m_service, ec);
        return database;
    }

    // A provisioned, empty database file loaded, filled with a typical content and saved:
    // an administrator, users with and without a disk, a blob and a released id.
    std::unique_ptr<Database> saved() {
        write_all(m_path, {});
        std::error_code ec;
        auto database = load(ec);
        db::AdminEntry admin;
        admin.set_id(1);
        admin.set_name("root");
        admin.set_container(
            text("admin container"), [](const bytes& c) { return c; }, 5);
        EXPECT_TRUE(database->insert_admin_entry(std::move(admin), ec));
        for (const char* name : {"alice", "bob", "carol"}) {
            EXPECT_TRUE(
                database->insert_user_entry(user(database->id_manager().obtain_id(), name), ec));
        }
        auto& disk = database->select_user_entry("bob")->disk();
        disk.guid().generate();
        disk.set_path("/srv/bob.img");
        disk.set_status(DiskStateInfo::created);
        database->id_manager().obtain_id();
        database->id_manager().release_id(4);
        database->update_storage(3, text("blob"));
        EXPECT_TRUE(database->save(ec)) << ec.message();
        return database;
    }

    // Loads the file and checks it holds what a has.
    void expect_loads_as(Database& a) {
        std::error_code ec;
        auto b = load(ec);
        ASSERT_FALSE(ec) << ec.message();
        ASSERT_EQ(a.get_user_list().size(), b->get_user_list().size());
        ASSERT_EQ(a.get_admin_list().size(), b->get_admin_list().size());
        for (const auto* entry : a.get_user_list()) {
            const auto* other = b->select_user_entry(entry->get_id());
            ASSERT_NE(other, nullptr);
            EXPECT_EQ(other->serialize(), entry->serialize());
        }
        EXPECT_EQ(b->select_admin_entry(1)->serialize(), a.select_admin_entry(1)->serialize());
        EXPECT_EQ(b->get_from_storage(3), a.get_from_storage(3));
        EXPECT_EQ(b->id_manager().used_ids(), a.id_manager().used_ids());
        EXPECT_EQ(b->id_manager().released_ids(), a.id_manager().released_ids());
        EXPECT_EQ(b->id_manager().next_id(), a.id_manager().next_id());
    }

    // Every corrupted image fails the load and leaves no entry behind.
    void expect_refused(const bytes& image, const std::string& what) {
        write_all(m_path, image);
        std::error_code ec;
        auto loaded = load(ec);
        ASSERT_TRUE(ec) << what << " and the load succeeded";
        EXPECT_TRUE(ec == database_error::corrupted || &ec.category() == &crypto_category())
            << what << ": " << ec.message();
        EXPECT_TRUE(loaded->get_user_list().empty()) << what;
        EXPECT_TRUE(loaded->get_admin_list().empty()) << what;
    }

    temp_dir m_dir;
    crypto_factory m_factory = seeded_factory();
    credentials m_service = make_service(m_factory);
    const std::string m_path = m_dir.file("database.bin");
};

TEST_F(DatabaseStore, SavedFileIsPrivateCiphertextThatLoadsBackEqual) {
    // A leftover of an interrupted save that others could read does not pass its mode on.
    write_all(m_path + ".new", text("stale"));
    ASSERT_EQ(::chmod((m_path + ".new").c_str(), 0644), 0);
    auto database = saved();
    expect_loads_as(*database);

    struct stat info {};
    ASSERT_EQ(::stat(m_path.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0600u);
    EXPECT_NE(::access((m_path + ".new").c_str(), F_OK), 0);
    // IV, then the body padded to whole blocks followed by its SHA-256 digest.
    const bytes content = read_all(m_path);
    Serializer file;
    file.deserialize(content);
    ASSERT_EQ(file.size(), 2u);
    EXPECT_EQ(file[0].size(), database->crypto_service().get_iv_size());
    EXPECT_EQ(file[1].size(), (database->serialize().size() + 15) / 16 * 16 + 32);
    const bytes token = text("token-alice");
    EXPECT_EQ(std::search(content.begin(), content.end(), token.begin(), token.end()),
              content.end());
}

// However far the body outgrows what the database held before, neither the save nor the
// load leaves plaintext of it in freed memory.
TEST_F(DatabaseStore, SaveAndLoadLeaveNoPlaintextInFreedMemory) {
    write_all(m_path, {});
    std::error_code ec;
    auto database = load(ec);
    bytes key(48);
    ASSERT_EQ(::getrandom(key.data(), key.size(), 0), static_cast<ssize_t>(key.size()));
    for (const std::size_t copies : {20u, 200u, 2000u}) {
        auto entry = user(database->id_manager().obtain_id(), "user" + std::to_string(copies));
        bytes material;
        for (std::size_t i = 0; i < copies; ++i) {
            material.insert(material.end(), key.begin(), key.end());
        }
        entry.set_symmetric_material(std::move(material));
        ASSERT_TRUE(database->insert_user_entry(std::move(entry), ec));
    }
    std::vector<bytes> watched = {key};
    testing_memory::freed_memory_probe probe(std::move(watched));
    EXPECT_TRUE(database->save(ec)) << ec.message();
    auto loaded = load(ec);
    probe.stop();
    EXPECT_FALSE(ec) << ec.message();
    EXPECT_EQ(loaded->get_user_list().size(), 3u);
    EXPECT_EQ(probe.hits(), 0u);
}

// Every save draws a new IV; a disk saved as mounted loads as unmounted.
TEST_F(DatabaseStore, TwoSavesDifferAndBothLoad) {
    auto database = saved();
    const bytes first = read_all(m_path);
    std::error_code ec;
    ASSERT_TRUE(database->save(ec));
    EXPECT_NE(read_all(m_path), first);
    expect_loads_as(*database);
    write_all(m_path, first);
    expect_loads_as(*database);

    database->select_user_entry("bob")->disk().set_status(DiskStateInfo::mounted);
    ASSERT_TRUE(database->save(ec));
    auto loaded = load(ec);
    ASSERT_FALSE(ec);
    EXPECT_EQ(loaded->select_user_entry("bob")->disk().get_status(), DiskStateInfo::unmounted);
}

TEST_F(DatabaseStore, EmptyFileIsAnEmptyDatabaseAndMissingFileIsAnError) {
    std::error_code ec;
    load(ec);
    EXPECT_EQ(ec, std::error_code(ENOENT, std::system_category()));

    write_all(m_path, {});
    ec.clear();
    auto database = load(ec);
    EXPECT_FALSE(ec) << ec.message();
    EXPECT_TRUE(database->get_user_list().empty());
    EXPECT_EQ(database->id_manager().next_id(), 1u);
}

TEST_F(DatabaseStore, FailedLoadNeverReplacesTheFileItCouldNotRead) {
    const bytes garbage = text("this is not a database file at all");
    write_all(m_path, garbage);
    std::error_code ec;
    auto database = load(ec);
    ASSERT_TRUE(ec);
    EXPECT_FALSE(database->save(ec));
    EXPECT_FALSE(database->backup(ec));
    EXPECT_EQ(read_all(m_path), garbage);
}

TEST_F(DatabaseStore, FlippedOrTruncatedFileFailsTheLoad) {
    saved();
    const bytes good = read_all(m_path);
    for (std::size_t at = 0; at < good.size(); ++at) {
        bytes bad = good;
        bad[at] ^= 0x01;
        expect_refused(bad, "byte " + std::to_string(at) + " flipped");
    }
    for (std::size_t length = 1; length < good.size(); length += 5) {
        expect_refused(bytes(good.begin(), good.begin() + static_cast<std::ptrdiff_t>(length)),
                       "truncated to " + std::to_string(length));
    }
    // Cut exactly at a block boundary inside the ciphertext: still refused.
    expect_refused(bytes(good.begin(), good.end() - 16), "last block cut");
}

TEST_F(DatabaseStore, FileOfAnotherServiceFailsTheLoad) {
    saved();
    m_service = make_service(m_factory);  // a different service container
    std::error_code ec;
    auto loaded = load(ec);
    EXPECT_EQ(ec, database_error::corrupted) << ec.message();
    EXPECT_TRUE(loaded->get_user_list().empty());

    m_service.first.back() = m_service.first.back() == L'0' ? L'1' : L'0';
    load(ec);
    EXPECT_EQ(ec, crypto_error::invalid_password);
}

TEST_F(DatabaseStore, HashThatCannotBeCreatedFailsTheLoad) {
    saved();
    crypto_factory broken =
        fake::seeded(fake::factory_with([](fake::script& s) { s.refuse_hash = true; }));
    Database database;
    std::error_code ec;
    ASSERT_TRUE(database.crypto_service().initialize(broken, ec));
    EXPECT_FALSE(database.load(m_path, m_service, ec));
    EXPECT_EQ(ec, std::errc::not_enough_memory);
    EXPECT_TRUE(database.get_user_list().empty());
}

// A save that fails after the backup leaves both files loading the previous content.
TEST_F(DatabaseStore, BackupKeepsThePreviousVersionAndAFailedSaveLeavesTheFileReadable) {
    auto database = saved();
    std::error_code ec;
    ASSERT_TRUE(database->backup(ec)) << ec.message();
    ASSERT_TRUE(database->save(ec));
    ASSERT_TRUE(database->backup(ec)) << ec.message();  // replaces the older backup
    const bytes first = read_all(m_path);
    ASSERT_TRUE(database->insert_user_entry(user(database->id_manager().obtain_id(), "dave"), ec));

    // The new file is written beside the old one; make that impossible, even for root.
    ASSERT_EQ(::mkdir((m_path + ".new").c_str(), 0700), 0);
    EXPECT_FALSE(database->save(ec));
    EXPECT_TRUE(ec);
    EXPECT_EQ(read_all(m_path), first);
    for (const std::string& path : {m_path, m_path + ".back"}) {
        ec.clear();
        auto loaded = load(ec, path);
        ASSERT_FALSE(ec) << path << ": " << ec.message();
        EXPECT_EQ(loaded->select_user_entry("dave"), nullptr) << path;
        EXPECT_EQ(loaded->get_user_list().size(), 3u) << path;
    }

    // The failed save dropped its staged copy; a retry stages one again, as every caller does.
    EXPECT_FALSE(std::filesystem::exists(m_path + ".back.new"));
    ASSERT_EQ(::rmdir((m_path + ".new").c_str()), 0);
    ASSERT_TRUE(database->backup(ec)) << ec.message();
    ASSERT_TRUE(database->save(ec));
    EXPECT_EQ(read_all(m_path + ".back"), first);
    EXPECT_FALSE(std::filesystem::exists(m_path + ".back.new"));
    expect_loads_as(*database);

    // Without a cipher the save fails before touching anything.
    const bytes latest = read_all(m_path);
    database->crypto_service().reset();
    EXPECT_FALSE(database->save(ec));
    EXPECT_EQ(ec, crypto_error::encryptor_not_created);
    EXPECT_EQ(read_all(m_path), latest);
    ::unlink(m_path.c_str());
    EXPECT_FALSE(database->backup(ec));
    EXPECT_EQ(ec, std::errc::no_such_file_or_directory);
}

}  // namespace
