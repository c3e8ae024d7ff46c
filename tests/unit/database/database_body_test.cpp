// The database body (sections, entries, blobs, ids) and the entry rules of the store,
// without the file cipher.
#include <gtest/gtest.h>

#include "database/database.h"
#include "database/dberror.h"
#include "database/serializer.h"
#include "service_fixture.h"

namespace {

using testing_db::bytes;
using testing_db::frame_of;
using testing_db::text;

// An account of the given kind whose container hashes to hash.
template <typename Entry>
Entry entry(std::uint64_t id, const std::string& name, const std::string& hash) {
    Entry made;
    made.set_id(id);
    made.set_name(name);
    made.set_container(
        text("container of " + name), [&](const bytes&) { return text(hash); }, 1700000000);
    return made;
}

const auto user = entry<db::UserEntry>;
const auto admin = entry<db::AdminEntry>;

// Section frames of a database body, in order.
std::vector<bytes> sections(const Database& database) {
    Serializer body;
    body.deserialize(database.serialize());
    return {body.begin(), body.end()};
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
    database.update_storage(0x0102, text("xy"));

    const auto body = sections(database);
    ASSERT_EQ(body.size(), 4u);
    const bytes signatures[] = {{0x73, 0x61}, {0x73, 0x75}, {0x73, 0x64}, {0x73, 0x69}};
    for (std::size_t i = 0; i < 4; ++i) {
        Serializer section;
        section.deserialize(body[i]);
        ASSERT_FALSE(section.empty());
        EXPECT_EQ(section[0], signatures[i]) << i;
    }
    // The storage section holds one frame of (index, blob) pairs.
    Serializer storage;
    storage.deserialize(body[2]);
    EXPECT_EQ(storage[1], frame_of({frame_of({{0x02, 0x01, 0, 0, 0, 0, 0, 0}, text("xy")})}));
}

// A database holding user "alice" (id 1, container hash "a").
class WithAlice : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(m_database.insert_user_entry(user(1, "alice", "a"), ec)); }
    Database m_database;
    std::error_code ec;
};
using DatabaseBodyRead = WithAlice;
using DatabaseEntries = WithAlice;

// An empty frame is refused and changes nothing; sections of unknown signatures are skipped.
TEST_F(DatabaseBodyRead, EmptyFramesAreRefusedAndUnknownSectionsSkipped) {
    EXPECT_FALSE(m_database.deserialize(bytes{}));
    EXPECT_FALSE(m_database.deserialize(bytes(8, 0)));
    EXPECT_EQ(m_database.get_user_list().size(), 1u);
    const auto body = sections(m_database);  // users, ids
    Database loaded;
    ASSERT_TRUE(loaded.deserialize(frame_of({
        // a 3-byte signature reads as 0: skipped
        frame_of({{0x73, 0x75, 0x00}, user(2, "mallory", "m").serialize()}),
        body[0],
        frame_of({{0x01, 0x02}, text("later version")}),
        body[1],
    })));
    EXPECT_EQ(loaded.get_user_list().size(), 1u);
    EXPECT_EQ(loaded.select_user_entry("mallory"), nullptr);
    EXPECT_NE(loaded.select_user_entry("alice"), nullptr);
}

TEST_F(DatabaseBodyRead, WithoutIdsSectionAllocatorStartsAtOneAndClashesOnce) {
    Database loaded;
    ASSERT_TRUE(loaded.deserialize(frame_of({sections(m_database)[0]})));
    EXPECT_EQ(loaded.id_manager().next_id(), 1u);
    EXPECT_TRUE(loaded.id_manager().used_ids().empty());
    // A registration takes the next id, which clashes with the stored user...
    const auto clash = loaded.id_manager().obtain_id();
    EXPECT_EQ(clash, 1u);
    EXPECT_FALSE(loaded.insert_user_entry(user(clash, "bob", "b"), ec));
    EXPECT_EQ(ec, database_error::user_id_exists);
    // ...and the following one gets the next id.
    const auto next = loaded.id_manager().obtain_id();
    EXPECT_EQ(next, 2u);
    EXPECT_TRUE(loaded.insert_user_entry(user(next, "bob", "b"), ec));
}

TEST_F(DatabaseEntries, IdAndNameClashReportsWhatTheWalkMeetsFirst) {
    ASSERT_TRUE(m_database.insert_user_entry(user(2, "bob", "b"), ec));
    // id 1 clashes with alice, name "bob" with bob: the first of them in map order decides.
    const auto expected = m_database.get_user_list().front()->get_id() == 1
                              ? database_error::user_id_exists
                              : database_error::user_name_exists;
    const std::pair<db::UserEntry, std::error_code> cases[] = {
        {user(1, "bob", "c"), expected},
        {user(9, "alice", "c"), database_error::user_name_exists},
        {user(2, "zed", "c"), database_error::user_id_exists},
    };
    for (const auto& [clashing, error] : cases) {
        ec.clear();
        EXPECT_FALSE(m_database.insert_user_entry(db::UserEntry(clashing), ec)) << clashing.name();
        EXPECT_EQ(ec, error) << clashing.name();
    }
}

TEST_F(DatabaseEntries, DuplicateContainerHashOrAdminIdIsRefused) {
    EXPECT_FALSE(m_database.insert_admin_entry(admin(1, "root", "a"), ec));
    EXPECT_EQ(ec, database_error::container_registered);
    ec.clear();
    ASSERT_TRUE(m_database.insert_admin_entry(admin(1, "root", "r"), ec));
    EXPECT_FALSE(m_database.insert_user_entry(user(2, "bob", "r"), ec));
    EXPECT_EQ(ec, database_error::container_registered);
    EXPECT_FALSE(m_database.check_container_hash(text("a")));
    EXPECT_TRUE(m_database.check_container_hash(text("other")));
    EXPECT_FALSE(m_database.insert_admin_entry(admin(1, "other", "b"), ec));
    EXPECT_EQ(ec, database_error::admin_exists);
}

// Steps in order, each with the error it must report (none for a step that succeeds): the
// last administrator stays even for an unknown name, and names must match whole.
TEST_F(DatabaseEntries, RemovalRules) {
    int n = 0;
    const auto step = [&](bool done, std::error_code expected) {
        EXPECT_EQ(done, !expected) << "step " << n;
        EXPECT_EQ(ec, expected) << "step " << n++;
        ec.clear();
    };
    Database& d = m_database;
    step(d.insert_admin_entry(admin(1, "root", "r"), ec), {});
    step(d.delete_admin_entry("nobody", ec), database_error::last_admin);
    step(d.delete_admin_entry(1, ec), database_error::last_admin);
    step(d.insert_admin_entry(admin(2, "ops", "b"), ec), {});
    step(d.delete_admin_entry("nobody", ec), database_error::admin_missing);
    step(d.delete_admin_entry(7, ec), database_error::admin_missing);
    step(d.delete_admin_entry("ops", ec), {});
    step(d.delete_user_entry("ali", ec), database_error::user_not_found);
    step(d.delete_user_entry(2, ec), database_error::user_not_found);
    step(d.delete_user_entry("alice", ec), {});
    EXPECT_EQ(d.select_admin_entry(2), nullptr);
    EXPECT_TRUE(d.get_user_list().empty());
}

}  // namespace
