#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <system_error>
#include <unordered_map>
#include <utility>
#include <vector>

#include "database/admin_entry.h"
#include "database/database_crypto.h"
#include "database/id_manager.h"
#include "database/serializer.h"
#include "database/user_entry.h"

namespace db {

// Key of an auxiliary blob carried in the database file.
using DatabaseStorageIndex = std::uint64_t;

// First item of every section of the database body.
enum class DatabaseStorageSignature : std::uint16_t {
    admins = 0x6173,
    users = 0x7573,
    storage = 0x6473,
    ids = 0x6973,
};

}  // namespace db

// The service's single store of accounts and disks, kept in memory and written as one
// encrypted, hash-protected file. Not thread-safe: the daemon uses it from one thread.
//
// File: a frame of two items, the IV and the ciphertext of (body, zero padding to whole
// cipher blocks, service hash of body and padding). The body is a frame of sections:
// administrators, users, storage blobs (each only when not empty) and the id allocator.
class Database {
  public:
    using bytes = std::vector<unsigned char>;
    // The service credentials: the password of the service key container and the container.
    using credentials = std::pair<std::wstring, bytes>;

    Database() = default;
    explicit Database(std::string path) : m_path(std::move(path)) {}
    Database(const Database&) = delete;
    Database& operator=(const Database&) = delete;
    // The stored blobs are wiped; the account records wipe their own secrets.
    ~Database();

    // Unlocks the service container (the crypto manager must already be initialised with
    // the provider) and reads the file at path. A missing file fails with the errno of
    // stat; an empty file is an empty database; a damaged or foreign file fails with 1034
    // or the cipher's error. A failed load forgets the path, so a later save cannot
    // replace the file that could not be read.
    bool load(const std::string& path, const credentials& service, std::error_code& ec);
    // Writes the whole database with a fresh IV. The file is replaced atomically: after a
    // failure the previous file is still there, complete. A copy that backup() prepared
    // becomes the ".back" file together with the new file: after a failed save both files
    // are as they were. Leaves ec as it was on success.
    bool save(std::error_code& ec);
    // Prepares a copy of the current file that the next save() keeps under the path
    // followed by ".back"; neither file is touched yet. Leaves ec as it was on success.
    bool backup(std::error_code& ec);

    DatabaseCryptoManager& crypto_service() noexcept { return m_crypto; }
    DatabaseIdManager& id_manager() noexcept { return m_ids; }
    const DatabaseIdManager& id_manager() const noexcept { return m_ids; }
    bool create_encryptor(const std::wstring& password, std::error_code& ec) {
        return m_crypto.create_encryptor(password, ec);
    }
    const std::string& path() const noexcept { return m_path; }

    // Adds a user: 1027 or 1028 for the first user (in map order) with the same id or
    // name, 1033 when the container hash is already registered, 1035 if not inserted.
    bool insert_user_entry(db::UserEntry&& entry, std::error_code& ec);
    // Adds an administrator: 1024 for an existing id, 1033 for a registered container.
    bool insert_admin_entry(db::AdminEntry&& entry, std::error_code& ec);
    // Removes a user; 1029 when there is none with that id or name.
    bool delete_user_entry(std::uint64_t id, std::error_code& ec);
    bool delete_user_entry(const std::string& name, std::error_code& ec);
    // Removes an administrator: 1026 while exactly one exists (checked first), 1025 when
    // there is none with that id or name.
    bool delete_admin_entry(std::uint64_t id, std::error_code& ec);
    bool delete_admin_entry(const std::string& name, std::error_code& ec);

    // The entry, or null. Pointers stay valid until that entry is removed.
    db::UserEntry* select_user_entry(std::uint64_t id);
    db::UserEntry* select_user_entry(const std::string& name);
    db::AdminEntry* select_admin_entry(std::uint64_t id);
    db::AdminEntry* select_admin_entry(const std::string& name);
    bool is_user_entry(const std::string& name) const;
    bool is_admin_entry(const std::string& name) const;
    std::vector<db::UserEntry*> get_user_list();
    std::vector<db::AdminEntry*> get_admin_list();
    // Container hashes of all users, then of all administrators.
    std::vector<bytes> hash_list() const;
    // True when no entry has this container hash.
    bool check_container_hash(const bytes& hash) const;
    // Empties both account maps; blobs and ids stay.
    void clear();

    // Auxiliary blobs: replaced or added, copied out (empty when absent), erased.
    void update_storage(db::DatabaseStorageIndex index, bytes&& blob);
    bytes get_from_storage(db::DatabaseStorageIndex index) const;
    void remove_from_storage(db::DatabaseStorageIndex index);

    // The body frame of the current content.
    bytes serialize() const;
    // Adds the sections of a body frame to the current content (existing ids keep their
    // entries); false when the frame has no items.
    bool deserialize(bytes&& body);

  private:
    // One item of a frame, read in place.
    using item_view = std::span<const unsigned char>;

    // The body into out, reserved once for the whole body and spare(body size) bytes more;
    // false when a section outgrows the 32-bit item length of the frame.
    template <typename Spare>
    bool encode_body(const Spare& spare, bytes& out) const;
    bytes serialize_storage() const;
    void deserialize_storage(item_view storage);
    void deserialize_admin(std::span<const item_view> entries);
    void deserialize_user(std::span<const item_view> entries);
    // True when the decrypted text fails the integrity check (or the check cannot run:
    // then ec holds the hash's error); hash_size receives the digest length used.
    bool corrupted(const bytes& text, std::size_t& hash_size, std::error_code& ec);

    std::string m_path;
    bool m_backup_staged = false;
    DatabaseCryptoManager m_crypto;
    DatabaseIdManager m_ids;
    std::unordered_map<std::uint64_t, db::AdminEntry> m_admins;
    std::unordered_map<std::uint64_t, db::UserEntry> m_users;
    std::unordered_map<db::DatabaseStorageIndex, bytes> m_storage;
};
