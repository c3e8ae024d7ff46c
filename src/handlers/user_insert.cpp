#include "handlers/user_insert.h"

#include <sys/stat.h>

#include <string>
#include <vector>

#include "crypto/crypto_helper.h"
#include "crypto/hasher.h"
#include "daemon/ztctl_error.h"
#include "dbus/bus_name.h"
#include "dbus/conf_generator.h"
#include "foundation/defer.h"
#include "foundation/i18n.h"
#include "handlers/container.h"
#include "handlers/keystore_file.h"
#include "handlers/profile.h"
#include "handlers/respond.h"
#include "logging/log_fields.h"
#include "session/transfer_context.h"
#include "session/transfer_server.h"
#include "system/accounts.h"
#include "system/file_ops.h"
#include "system/fio.h"
#include "system/misc.h"

namespace user_handler {

namespace {

constexpr const char* kPolicyDirectory = "/etc/dbus-1/system.d";

bool exists(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0;
}

// The mount root (root's, 0755: no one else may plant entries in it) and the user's own
// directory (0700). Existing ones are used only when they are real directories of root or
// of the user, never links.
bool prepare_mount_directory(const std::string& name, std::error_code& ec) {
    if (!exists(misc::kMountRoot) && !os::mkdir(misc::kMountRoot, 0755, ec)) {
        return false;
    }
    if (!misc::check_mount_directory(misc::kMountRoot, 0, ec)) {
        return false;
    }
    // A root that an earlier version made writable by everyone is taken back.
    struct stat root {};
    if (::lstat(misc::kMountRoot, &root) == 0 && (root.st_mode & 022) != 0 &&
        !os::set_mode(misc::kMountRoot, 0755, ec)) {
        return false;
    }
    uid_t uid = 0;
    gid_t gid = 0;
    if (!os::find_user_id(name, uid, gid, ec)) {
        return false;
    }
    const std::string directory = misc::build_mount_dir(name);
    if (!exists(directory) && !os::mkdir(directory, 0700, ec)) {
        return false;
    }
    return misc::check_mount_directory(directory, uid, ec);
}

// The user's bus policy file, readable by the bus (which rereads its directory as its
// own user).
bool write_policy_file(const std::string& name, std::error_code& ec) {
    const auto [text, file_name] = conf_generator::generate(misc::get_server_bus_name(name), ec);
    if (ec) {
        return false;
    }
    const std::string path = std::string(kPolicyDirectory) + "/" + file_name;
    return fio::write(path, text, ec) && os::set_mode(path, 0644, ec);
}

// The user entry that the key store describes, under a new id.
bool build_entry(Database& database, const std::string& name, Container::Datastore& store,
                 std::vector<unsigned char>&& file, db::UserEntry& entry, std::error_code& ec) {
    const std::int64_t created = crypto::extract_container_time(store.service.container, ec);
    if (ec) {
        return false;
    }
    entry.set_id(database.id_manager().obtain_id());
    entry.set_name(name);
    Hasher hasher;
    std::error_code hash_error;
    const bool hashing = hasher.initialize(database.crypto_service().get_factory(), hash_error);
    const auto hash = [&](const std::vector<unsigned char>& data) {
        return hashing ? hasher.hash(data, hash_error) : std::vector<unsigned char>{};
    };
    entry.set_container(std::move(store.service.container), hash, created);
    if (hash_error) {
        ec = hash_error;
        return false;
    }
    entry.set_parameter(std::move(store.keystore.parameter));
    entry.set_symmetric_material(std::move(file));
    return true;
}

}  // namespace

void insert_user(transfer_session_safe& session, Database& database) {
    handler_reply::reply_guard guard(session, _("Unable to create a user: %s"));
    std::error_code& ec = guard.ec;
    if (!session.is_opened() || !session.is_accessed()) {
        ec = ztctl_error::session_not_open_or_unsafe;
        return;
    }
    const auto body = session.protocol().context()->receive(ec);
    if (ec) {
        return;
    }
    Container::Profile profile;
    profile.deserialize(body);
    if (!misc::is_safe_user_name(profile.name)) {
        ec = ztctl_error::invalid_request_format;
        return;
    }
    ztl::LogFields::set(ztl::log_field::user, profile.name);
    std::error_code lookup;
    if (!os::is_user_exist(profile.name, lookup)) {
        ec = ztctl_error::user_not_exist;
        return;
    }

    keystore_file source;
    std::vector<unsigned char> file;
    if (!source.read(profile.path, file, ec)) {
        return;
    }
    asymmetric_encryptor cipher = database.crypto_service().get_cipher();
    if (!cipher.initialize(database.crypto_service().get_factory(), ec)) {
        return;
    }
    Container::Datastore store;
    if (!store.unpack(cipher, file, ec)) {
        return;
    }
    db::UserEntry entry;
    if (!build_entry(database, profile.name, store, std::move(file), entry, ec)) {
        return;
    }
    if (database.is_admin_entry(profile.name)) {
        ec = ztctl_error::user_exists;
        return;
    }
    if (!database.insert_user_entry(std::move(entry), ec)) {
        return;
    }

    // From here on a failure takes the new entry out again. The files need no undoing: a
    // save that fails leaves them as they were.
    const auto rollback = foundation::make_deferred([&] {
        if (ec) {
            std::error_code ignored;
            database.delete_user_entry(profile.name, ignored);
        }
    });
    if (!prepare_mount_directory(profile.name, ec) || !write_policy_file(profile.name, ec)) {
        return;
    }
    if (!database.backup(ec) || !database.save(ec)) {
        return;
    }
    // Removed only once the registration is saved: a failed one can be retried with it.
    source.remove();
}

}  // namespace user_handler
