// The database body (sections, entries, blobs, ids) and the entry rules of the store,
// without the file cipher.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "database/database.h"
#include "database/dberror.h"
#include "database/serializer.h"

namespace {

using bytes = std::vector<unsigned char>;

bytes text(const std::string& s) {
    return bytes(s.begin(), s.end());
}

db::UserEntry user(std::uint64_t id, const std::string& name, const std::string& hash) {
    db::UserEntry entry;
    entry.set_id(id);
    entry.set_name(name);
    entry.set_container(
        text("container of " + name), [&](const bytes&) { return text(hash); }, 1700000000);
    return entry;
}

db::AdminEntry admin(std::uint64_t id, const std::string& name, const std::string& hash) {
    db::AdminEntry entry;
    entry.set_id(id);
    entry.set_name(name);
    entry.set_container(
        text("container of " + name), [&](const bytes&) { return text(hash); }, 1600000000);
    return entry;
}

db::UserEntry user_with_disk(std::uint64_t id, const std::string& name, DiskStateInfo status) {
    db::UserEntry entry = user(id, name, "hash-" + name);
    auto& disk = entry.disk();
    disk.guid().generate();
    disk.set_path("/srv/" + name + ".img");
    disk.set_mount_directory("/zt/" + name);
    disk.set_fs("ext4");
    disk.set_size(1u << 30);
    disk.set_status(status);
    disk.set_creation_time(1700000100);
    entry.set_symmetric_material(bytes(1024, 0x5A));
    return entry;
}

TEST(DatabaseBody, EmptyDatabaseIsExactly58Bytes) {
    const bytes expected = {
        0x32, 0, 0, 0, 0,    0,    0, 0,              // body length 50
        0x2E, 0, 0, 0,                                // section length 46
        0x26, 0, 0, 0, 0,    0,    0, 0,              // section frame, body 38
        0x02, 0, 0, 0, 0x73, 0x69,                    // signature "si" (0x6973)
        0x1C, 0, 0, 0,                                // id frame length 28
        0x14, 0, 0, 0, 0,    0,    0, 0,              // id frame, body 20
        0x08, 0, 0, 0, 1,    0,    0, 0, 0, 0, 0, 0,  // next id 1
        0,    0, 0, 0,                                // no ids in use
        0,    0, 0, 0,                                // no released ids
    };
    const Database database;
    EXPECT_EQ(database.serialize(), expected);
    EXPECT_EQ(expected.size(), 58u);
}

TEST(DatabaseBody, SectionsComeInOrderWithTheirSignatureBytes) {
    Database database;
    std::error_code ec;
    ASSERT_TRUE(database.insert_admin_entry(admin(1, "root", "h1"), ec));
    ASSERT_TRUE(database.insert_user_entry(user(1, "alice", "h2"), ec));
    database.update_storage(7, text("blob"));

    Serializer body;
    body.deserialize(database.serialize());
    ASSERT_EQ(body.size(), 4u);
    const bytes signatures[] = {{0x73, 0x61}, {0x73, 0x75}, {0x73, 0x64}, {0x73, 0x69}};
    for (std::size_t i = 0; i < 4; ++i) {
        Serializer section;
        section.deserialize(body[i]);
        ASSERT_FALSE(section.empty());
        EXPECT_EQ(section[0], signatures[i]) << i;
    }
}

TEST(DatabaseBody, StorageSectionHoldsOneFrameOfIndexBlobPairs) {
    Database database;
    database.update_storage(0x0102, text("xy"));
    Serializer body;
    body.deserialize(database.serialize());
    ASSERT_EQ(body.size(), 2u);  // storage, ids
    Serializer section;
    section.deserialize(body[0]);
    ASSERT_EQ(section.size(), 2u);
    Serializer blobs;
    blobs.deserialize(section[1]);
    ASSERT_EQ(blobs.size(), 1u);
    Serializer pair;
    pair.deserialize(blobs[0]);
    ASSERT_EQ(pair.size(), 2u);
    EXPECT_EQ(pair[0], (bytes{0x02, 0x01, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(pair[1], text("xy"));
}

TEST(DatabaseBody, RoundTripKeepsEntriesBlobsAndIds) {
    Database saved;
    std::error_code ec;
    ASSERT_TRUE(saved.insert_admin_entry(admin(1, "root", "a1"), ec));
    ASSERT_TRUE(saved.insert_admin_entry(admin(2, "ops", "a2"), ec));
    for (int i = 0; i < 6; ++i) {
        saved.id_manager().obtain_id();
    }
    ASSERT_TRUE(saved.insert_user_entry(user(1, "alice", "u1"), ec));
    ASSERT_TRUE(saved.insert_user_entry(user_with_disk(2, "bob", DiskStateInfo::created), ec));
    saved.id_manager().release_id(5);
    saved.id_manager().release_id(3);
    saved.update_storage(1, text("one"));
    saved.update_storage(99, bytes{});

    Database loaded;
    ASSERT_TRUE(loaded.deserialize(saved.serialize()));
    for (const auto* entry : saved.get_user_list()) {
        const auto* back = loaded.select_user_entry(entry->get_id());
        ASSERT_NE(back, nullptr);
        EXPECT_EQ(back->serialize(), entry->serialize());
    }
    for (const auto* entry : saved.get_admin_list()) {
        const auto* back = loaded.select_admin_entry(entry->get_id());
        ASSERT_NE(back, nullptr);
        EXPECT_EQ(back->serialize(), entry->serialize());
    }
    EXPECT_EQ(loaded.get_user_list().size(), 2u);
    EXPECT_EQ(loaded.get_admin_list().size(), 2u);
    EXPECT_EQ(loaded.get_from_storage(1), text("one"));
    EXPECT_TRUE(loaded.get_from_storage(99).empty());
    EXPECT_EQ(loaded.id_manager().next_id(), 7u);
    EXPECT_EQ(loaded.id_manager().used_ids(), saved.id_manager().used_ids());
    EXPECT_EQ(loaded.id_manager().obtain_id(), 3u);
    EXPECT_EQ(loaded.id_manager().obtain_id(), 5u);
    EXPECT_EQ(loaded.id_manager().obtain_id(), 7u);
}

TEST(DatabaseBody, LoadingAddsAndFirstInsertedIdWins) {
    Database first;
    std::error_code ec;
    ASSERT_TRUE(first.insert_user_entry(user(4, "dave", "d"), ec));
    Database second;
    ASSERT_TRUE(second.insert_user_entry(user(4, "impostor", "i"), ec));
    ASSERT_TRUE(second.insert_user_entry(user(8, "erin", "e"), ec));

    Database target;
    ASSERT_TRUE(target.deserialize(first.serialize()));
    ASSERT_TRUE(target.deserialize(second.serialize()));
    ASSERT_NE(target.select_user_entry(4), nullptr);
    EXPECT_EQ(target.select_user_entry(4)->get_name(), "dave");
    EXPECT_NE(target.select_user_entry("erin"), nullptr);
}

TEST(DatabaseBody, EmptyFrameIsRejectedAndChangesNothing) {
    Database database;
    std::error_code ec;
    ASSERT_TRUE(database.insert_user_entry(user(1, "alice", "a"), ec));
    EXPECT_FALSE(database.deserialize(bytes{}));
    EXPECT_FALSE(database.deserialize(bytes(8, 0)));
    EXPECT_EQ(database.get_user_list().size(), 1u);
}

TEST(DatabaseBody, UnknownAndShortSignatureSectionsAreSkipped) {
    Database source;
    std::error_code ec;
    ASSERT_TRUE(source.insert_user_entry(user(1, "alice", "a"), ec));
    Serializer body;
    body.deserialize(source.serialize());  // users, ids

    Serializer odd_signature;  // a 3-byte signature reads as 0: skipped
    odd_signature.push_back(bytes{0x73, 0x75, 0x00});
    odd_signature.push_back(user(2, "mallory", "m").serialize());
    Serializer unknown;
    unknown.push_back(bytes{0x01, 0x02});
    unknown.push_back(text("later version"));
    Serializer edited;
    edited.push_back(odd_signature.serialize());
    edited.push_back(body[0]);
    edited.push_back(unknown.serialize());
    edited.push_back(body[1]);

    Database loaded;
    ASSERT_TRUE(loaded.deserialize(edited.serialize()));
    EXPECT_EQ(loaded.get_user_list().size(), 1u);
    EXPECT_EQ(loaded.select_user_entry("mallory"), nullptr);
    EXPECT_NE(loaded.select_user_entry("alice"), nullptr);
}

TEST(DatabaseBody, WithoutIdsSectionAllocatorStartsAtOneAndClashesOnce) {
    Database source;
    std::error_code ec;
    ASSERT_TRUE(source.insert_user_entry(user(1, "alice", "a"), ec));
    Serializer body;
    body.deserialize(source.serialize());
    Serializer users_only;
    users_only.push_back(body[0]);

    Database loaded;
    ASSERT_TRUE(loaded.deserialize(users_only.serialize()));
    EXPECT_EQ(loaded.id_manager().next_id(), 1u);
    EXPECT_TRUE(loaded.id_manager().used_ids().empty());

    // A registration takes the next id, which clashes with the stored user...
    const auto clash = loaded.id_manager().obtain_id();
    EXPECT_EQ(clash, 1u);
    EXPECT_FALSE(loaded.insert_user_entry(user(clash, "bob", "b"), ec));
    EXPECT_EQ(ec, database_error::user_id_exists);
    // ...and the following one gets the next id.
    ec.clear();
    const auto next = loaded.id_manager().obtain_id();
    EXPECT_EQ(next, 2u);
    EXPECT_TRUE(loaded.insert_user_entry(user(next, "bob", "b"), ec));
}

TEST(DatabaseEntries, IdAndNameClashReportsWhatTheWalkMeetsFirst) {
    Database database;
    std::error_code ec;
    ASSERT_TRUE(database.insert_user_entry(user(1, "alice", "a"), ec));
    ASSERT_TRUE(database.insert_user_entry(user(2, "bob", "b"), ec));
    // id 1 clashes with alice, name "bob" with bob: the first of them in map order decides.
    const auto list = database.get_user_list();
    const auto expected = list.front()->get_id() == 1 ? database_error::user_id_exists
                                                      : database_error::user_name_exists;
    EXPECT_FALSE(database.insert_user_entry(user(1, "bob", "c"), ec));
    EXPECT_EQ(ec, expected);

    ec.clear();
    EXPECT_FALSE(database.insert_user_entry(user(9, "alice", "c"), ec));
    EXPECT_EQ(ec, database_error::user_name_exists);
    ec.clear();
    EXPECT_FALSE(database.insert_user_entry(user(2, "zed", "c"), ec));
    EXPECT_EQ(ec, database_error::user_id_exists);
}

TEST(DatabaseEntries, DuplicateContainerHashIsRefusedAcrossKinds) {
    Database database;
    std::error_code ec;
    ASSERT_TRUE(database.insert_admin_entry(admin(1, "root", "shared"), ec));
    EXPECT_FALSE(database.insert_user_entry(user(1, "alice", "shared"), ec));
    EXPECT_EQ(ec, database_error::container_registered);
    ec.clear();
    ASSERT_TRUE(database.insert_user_entry(user(1, "alice", "own"), ec));
    EXPECT_FALSE(database.insert_admin_entry(admin(2, "ops", "own"), ec));
    EXPECT_EQ(ec, database_error::container_registered);
    EXPECT_FALSE(database.check_container_hash(text("own")));
    EXPECT_TRUE(database.check_container_hash(text("other")));
}

TEST(DatabaseEntries, AdminWithSameIdIsRefused) {
    Database database;
    std::error_code ec;
    ASSERT_TRUE(database.insert_admin_entry(admin(1, "root", "a"), ec));
    EXPECT_FALSE(database.insert_admin_entry(admin(1, "other", "b"), ec));
    EXPECT_EQ(ec, database_error::admin_exists);
}

TEST(DatabaseEntries, LastAdminCannotBeRemovedEvenByUnknownName) {
    Database database;
    std::error_code ec;
    ASSERT_TRUE(database.insert_admin_entry(admin(1, "root", "a"), ec));
    EXPECT_FALSE(database.delete_admin_entry("nobody", ec));
    EXPECT_EQ(ec, database_error::last_admin);
    ec.clear();
    EXPECT_FALSE(database.delete_admin_entry(1, ec));
    EXPECT_EQ(ec, database_error::last_admin);

    ec.clear();
    ASSERT_TRUE(database.insert_admin_entry(admin(2, "ops", "b"), ec));
    EXPECT_FALSE(database.delete_admin_entry("nobody", ec));
    EXPECT_EQ(ec, database_error::admin_missing);
    ec.clear();
    EXPECT_FALSE(database.delete_admin_entry(7, ec));
    EXPECT_EQ(ec, database_error::admin_missing);
    ec.clear();
    EXPECT_TRUE(database.delete_admin_entry("ops", ec));
    EXPECT_EQ(database.select_admin_entry(2), nullptr);
    EXPECT_FALSE(ec);
}

TEST(DatabaseEntries, UserRemovalByIdAndName) {
    Database database;
    std::error_code ec;
    EXPECT_FALSE(database.delete_user_entry(1, ec));
    EXPECT_EQ(ec, database_error::user_not_found);
    ec.clear();
    ASSERT_TRUE(database.insert_user_entry(user(1, "alice", "a"), ec));
    ASSERT_TRUE(database.insert_user_entry(user(2, "bob", "b"), ec));
    EXPECT_FALSE(database.delete_user_entry("ali", ec));  // whole names only
    EXPECT_EQ(ec, database_error::user_not_found);
    ec.clear();
    EXPECT_TRUE(database.delete_user_entry("alice", ec));
    EXPECT_TRUE(database.delete_user_entry(2, ec));
    EXPECT_FALSE(ec);
    EXPECT_TRUE(database.get_user_list().empty());
}

TEST(DatabaseEntries, LookupsAndHashListOrder) {
    Database database;
    std::error_code ec;
    ASSERT_TRUE(database.insert_user_entry(user(3, "carol", "u"), ec));
    ASSERT_TRUE(database.insert_admin_entry(admin(1, "root", "a"), ec));
    EXPECT_TRUE(database.is_user_entry("carol"));
    EXPECT_FALSE(database.is_user_entry("root"));
    EXPECT_TRUE(database.is_admin_entry("root"));
    EXPECT_EQ(database.select_user_entry("caro"), nullptr);
    EXPECT_EQ(database.hash_list(), (std::vector<bytes>{text("u"), text("a")}));

    database.select_user_entry(3)->get_parameter() = text("token");
    EXPECT_EQ(database.select_user_entry("carol")->get_parameter(), text("token"));

    database.update_storage(5, text("x"));
    database.clear();
    EXPECT_TRUE(database.get_user_list().empty());
    EXPECT_TRUE(database.get_admin_list().empty());
    EXPECT_EQ(database.get_from_storage(5), text("x"));
    database.remove_from_storage(5);
    EXPECT_TRUE(database.get_from_storage(5).empty());
}

}  // namespace
