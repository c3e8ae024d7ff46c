#include "database/database.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>

#include "crypto/hasher.h"
#include "database/database_file.h"
#include "database/dberror.h"
#include "system/cast.h"

namespace {

using bytes = std::vector<unsigned char>;

constexpr const char* kBackupSuffix = ".back";

bytes signature(db::DatabaseStorageSignature value) {
    return cast::to_vector<std::uint16_t>(static_cast<std::uint16_t>(value));
}

// Gives a step that failed without reporting why the fallback code.
void set_if_clear(std::error_code& ec, database_error fallback) {
    if (!ec) {
        ec = fallback;
    }
}

}  // namespace

// ---- persistence ----

bool Database::load(const std::string& path, const credentials& service, std::error_code& ec) {
    m_path = path;
    std::error_code error;
    const bool loaded = [&] {
        if (!m_crypto.import_container(service.first, service.second, error) ||
            !m_crypto.create_encryptor(service.first, error)) {
            return false;
        }
        struct stat info {};
        if (::stat(path.c_str(), &info) != 0) {
            error = std::error_code(errno, std::system_category());
            return false;
        }
        bytes text;
        if (!db::file::read(path, text, error)) {
            return false;
        }
        if (text.empty()) {
            return true;  // a provisioned, still empty database
        }
        bytes iv;
        bytes ciphertext;
        {
            Serializer file;
            file.deserialize(text);
            text = bytes{};  // the frame holds the only copy now
            if (file.size() < 2) {
                error = database_error::corrupted;
                return false;
            }
            iv = file.pop_front();
            ciphertext = file.pop_front();
        }
        if (!m_crypto.set_iv(iv, error)) {
            return false;
        }
        text = m_crypto.decrypt(ciphertext, error);
        ciphertext = bytes{};
        if (error) {
            return false;
        }
        std::size_t hash_size = 0;
        if (corrupted(text, hash_size, error)) {
            set_if_clear(error, database_error::corrupted);
            return false;
        }
        text.resize(text.size() - hash_size);
        deserialize(std::move(text));
        return true;
    }();
    if (!loaded) {
        m_path.clear();
        ec = error;
    }
    return loaded;
}

bool Database::corrupted(const bytes& text, std::size_t& hash_size, std::error_code& ec) {
    Hasher hasher;
    if (!hasher.initialize(m_crypto.get_factory(), ec)) {
        return true;
    }
    hash_size = hasher.size();
    if (hash_size == 0 || text.size() < hash_size) {
        return true;
    }
    const std::size_t body_size = text.size() - hash_size;
    const bytes digest = hasher.hash(text.data(), body_size, ec);
    if (digest.size() != hash_size) {
        return true;
    }
    return !std::equal(digest.begin(), digest.end(),
                       text.begin() + static_cast<std::ptrdiff_t>(body_size));
}

bool Database::save(std::error_code& ec) {
    std::error_code error;
    const bool saved = [&] {
        if (m_path.empty()) {
            error = database_error::failure;  // never loaded, nothing to replace
            return false;
        }
        bytes body = serialize();
        Hasher hasher;
        if (!hasher.initialize(m_crypto.get_factory(), error)) {
            return false;
        }
        const std::size_t padding = m_crypto.get_padding(body.size(), error);
        if (error) {
            return false;
        }
        const bytes iv = generate_iv(m_crypto.get_factory(), m_crypto.get_iv_size(), error);
        if (iv.empty()) {
            set_if_clear(error, database_error::failure);
            return false;
        }
        if (!m_crypto.set_iv(iv, error)) {
            return false;
        }
        body.resize(body.size() + padding, 0);
        const bytes digest = hasher.hash(body, error);
        if (digest.empty()) {
            set_if_clear(error, database_error::failure);
            return false;
        }
        body.insert(body.end(), digest.begin(), digest.end());
        bytes ciphertext = m_crypto.encrypt(body, error);
        body = bytes{};
        if (ciphertext.empty()) {
            set_if_clear(error, database_error::failure);
            return false;
        }
        Serializer file;
        file.push_back(iv);
        file.push_back(std::move(ciphertext));
        return db::file::replace(m_path, file.serialize(), error);
    }();
    if (!saved) {
        ec = error;
    }
    return saved;
}

bool Database::backup(std::error_code& ec) {
    std::error_code error;
    if (m_path.empty()) {
        ec = database_error::failure;
        return false;
    }
    if (!db::file::keep_copy(m_path, m_path + kBackupSuffix, error)) {
        ec = error;
        return false;
    }
    return true;
}

// ---- body ----

bytes Database::serialize() const {
    Serializer body;
    if (!m_admins.empty()) {
        Serializer section;
        section.push_back(signature(db::DatabaseStorageSignature::admins));
        for (const auto& [id, entry] : m_admins) {
            section.push_back(entry.serialize());
        }
        body.push_back(section.serialize());
    }
    if (!m_users.empty()) {
        Serializer section;
        section.push_back(signature(db::DatabaseStorageSignature::users));
        for (const auto& [id, entry] : m_users) {
            section.push_back(entry.serialize());
        }
        body.push_back(section.serialize());
    }
    if (!m_storage.empty()) {
        Serializer section;
        section.push_back(signature(db::DatabaseStorageSignature::storage));
        section.push_back(serialize_storage());
        body.push_back(section.serialize());
    }
    Serializer ids;
    ids.push_back(signature(db::DatabaseStorageSignature::ids));
    ids.push_back(m_ids.save());
    body.push_back(ids.serialize());
    return body.serialize();
}

bytes Database::serialize_storage() const {
    Serializer blobs;
    for (const auto& [index, blob] : m_storage) {
        Serializer pair;
        pair.push_back(cast::to_vector<std::uint64_t>(index));
        pair.push_back(blob);
        blobs.push_back(pair.serialize());
    }
    return blobs.serialize();
}

bool Database::deserialize(bytes&& data) {
    Serializer body;
    body.deserialize(data);
    data = bytes{};  // keeps the peak of a large load near twice the body
    if (body.empty()) {
        return false;
    }
    while (!body.empty()) {
        Serializer section;
        section.deserialize(body.pop_front());
        const auto tag = static_cast<db::DatabaseStorageSignature>(
            cast::to_integer<std::uint16_t>(section.pop_front()));
        switch (tag) {
            case db::DatabaseStorageSignature::admins:
                deserialize_admin(section);
                break;
            case db::DatabaseStorageSignature::users:
                deserialize_user(section);
                break;
            case db::DatabaseStorageSignature::storage:
                deserialize_storage(section);
                break;
            case db::DatabaseStorageSignature::ids:
                m_ids.load(section.pop_front());
                break;
            default:
                break;  // a section of a later version: skipped
        }
    }
    return true;
}

void Database::deserialize_admin(Serializer& section) {
    while (!section.empty()) {
        db::AdminEntry entry;
        entry.deserialize(section.pop_front());
        const auto id = entry.get_id();
        m_admins.try_emplace(id, std::move(entry));
    }
}

void Database::deserialize_user(Serializer& section) {
    while (!section.empty()) {
        db::UserEntry entry;
        entry.deserialize(section.pop_front());
        const auto id = entry.get_id();
        m_users.try_emplace(id, std::move(entry));
    }
}

void Database::deserialize_storage(Serializer& section) {
    Serializer blobs;
    blobs.deserialize(section.pop_front());
    while (!blobs.empty()) {
        Serializer pair;
        pair.deserialize(blobs.pop_front());
        const auto index = cast::to_integer<std::uint64_t>(pair.pop_front());
        m_storage.try_emplace(index, pair.pop_front());
    }
}

// ---- entries ----

bool Database::insert_user_entry(db::UserEntry&& entry, std::error_code& ec) {
    for (const auto& [id, user] : m_users) {
        if (user.get_id() == entry.get_id()) {
            ec = database_error::user_id_exists;
            return false;
        }
        if (user.name() == entry.name()) {
            ec = database_error::user_name_exists;
            return false;
        }
    }
    if (!check_container_hash(entry.hash())) {
        ec = database_error::container_registered;
        return false;
    }
    const auto id = entry.get_id();
    if (!m_users.try_emplace(id, std::move(entry)).second) {
        ec = database_error::failure;
        return false;
    }
    return true;
}

bool Database::insert_admin_entry(db::AdminEntry&& entry, std::error_code& ec) {
    if (m_admins.contains(entry.get_id())) {
        ec = database_error::admin_exists;
        return false;
    }
    if (!check_container_hash(entry.hash())) {
        ec = database_error::container_registered;
        return false;
    }
    const auto id = entry.get_id();
    if (!m_admins.try_emplace(id, std::move(entry)).second) {
        ec = database_error::failure;
        return false;
    }
    return true;
}

bool Database::delete_user_entry(std::uint64_t id, std::error_code& ec) {
    if (m_users.erase(id) == 0) {
        ec = database_error::user_not_found;
        return false;
    }
    return true;
}

bool Database::delete_user_entry(const std::string& name, std::error_code& ec) {
    const auto it = std::find_if(m_users.begin(), m_users.end(),
                                 [&](const auto& item) { return item.second.name() == name; });
    if (it == m_users.end()) {
        ec = database_error::user_not_found;
        return false;
    }
    m_users.erase(it);
    return true;
}

bool Database::delete_admin_entry(std::uint64_t id, std::error_code& ec) {
    if (m_admins.size() == 1) {
        ec = database_error::last_admin;
        return false;
    }
    if (m_admins.erase(id) == 0) {
        ec = database_error::admin_missing;
        return false;
    }
    return true;
}

bool Database::delete_admin_entry(const std::string& name, std::error_code& ec) {
    if (m_admins.size() == 1) {
        ec = database_error::last_admin;
        return false;
    }
    const auto it = std::find_if(m_admins.begin(), m_admins.end(),
                                 [&](const auto& item) { return item.second.name() == name; });
    if (it == m_admins.end()) {
        ec = database_error::admin_missing;
        return false;
    }
    m_admins.erase(it);
    return true;
}

db::UserEntry* Database::select_user_entry(std::uint64_t id) {
    const auto it = m_users.find(id);
    return it == m_users.end() ? nullptr : &it->second;
}

db::UserEntry* Database::select_user_entry(const std::string& name) {
    for (auto& [id, user] : m_users) {
        if (user.name() == name) {
            return &user;
        }
    }
    return nullptr;
}

db::AdminEntry* Database::select_admin_entry(std::uint64_t id) {
    const auto it = m_admins.find(id);
    return it == m_admins.end() ? nullptr : &it->second;
}

db::AdminEntry* Database::select_admin_entry(const std::string& name) {
    for (auto& [id, admin] : m_admins) {
        if (admin.name() == name) {
            return &admin;
        }
    }
    return nullptr;
}

bool Database::is_user_entry(const std::string& name) const {
    return std::any_of(m_users.begin(), m_users.end(),
                       [&](const auto& item) { return item.second.name() == name; });
}

bool Database::is_admin_entry(const std::string& name) const {
    return std::any_of(m_admins.begin(), m_admins.end(),
                       [&](const auto& item) { return item.second.name() == name; });
}

std::vector<db::UserEntry*> Database::get_user_list() {
    std::vector<db::UserEntry*> list;
    list.reserve(m_users.size());
    for (auto& [id, user] : m_users) {
        list.push_back(&user);
    }
    return list;
}

std::vector<db::AdminEntry*> Database::get_admin_list() {
    std::vector<db::AdminEntry*> list;
    list.reserve(m_admins.size());
    for (auto& [id, admin] : m_admins) {
        list.push_back(&admin);
    }
    return list;
}

std::vector<bytes> Database::hash_list() const {
    std::vector<bytes> hashes;
    hashes.reserve(m_users.size() + m_admins.size());
    for (const auto& [id, user] : m_users) {
        hashes.push_back(user.hash());
    }
    for (const auto& [id, admin] : m_admins) {
        hashes.push_back(admin.hash());
    }
    return hashes;
}

bool Database::check_container_hash(const bytes& hash) const {
    const auto same = [&](const auto& item) { return item.second.hash() == hash; };
    return std::none_of(m_users.begin(), m_users.end(), same) &&
           std::none_of(m_admins.begin(), m_admins.end(), same);
}

void Database::clear() {
    m_admins.clear();
    m_users.clear();
}

void Database::update_storage(db::DatabaseStorageIndex index, bytes&& blob) {
    m_storage.insert_or_assign(index, std::move(blob));
}

bytes Database::get_from_storage(db::DatabaseStorageIndex index) const {
    const auto it = m_storage.find(index);
    return it == m_storage.end() ? bytes{} : it->second;
}

void Database::remove_from_storage(db::DatabaseStorageIndex index) {
    m_storage.erase(index);
}
