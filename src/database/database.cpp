#include "database/database.h"

#include <sys/stat.h>

#include <string.h>

#include <algorithm>
#include <cerrno>
#include <limits>
#include <memory>
#include <span>

#include "crypto/hasher.h"
#include "database/database_file.h"
#include "database/dberror.h"
#include "database/frame_view.h"
#include "foundation/defer.h"
#include "system/cast.h"
#include "system/wipe.h"

namespace {

using bytes = std::vector<unsigned char>;

constexpr const char* kBackupSuffix = ".back";
constexpr std::size_t kFrameHeader = db::frame_header_size;
constexpr std::size_t kItemHeader = db::item_length_size;
constexpr std::size_t kMaxItem = std::numeric_limits<std::uint32_t>::max();

unsigned char* put_le(unsigned char* at, std::uint64_t value, std::size_t width) {
    for (std::size_t i = 0; i < width; ++i) {
        *at++ = static_cast<unsigned char>(value >> (8 * i));
    }
    return at;
}

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
        bytes file;
        if (!db::file::read(path, file, error)) {
            return false;
        }
        if (file.empty()) {
            return true;  // a provisioned, still empty database
        }
        // The two items (IV, ciphertext) are read in place: the ciphertext is decrypted
        // straight out of the file image, so a load holds at most two copies of the data.
        const auto items = db::frame_items(file);
        if (items.size() < 2) {
            error = database_error::corrupted;
            return false;
        }
        if (!m_crypto.set_iv(bytes(items[0].begin(), items[0].end()), error)) {
            return false;
        }
        bytes text(items[1].size());
        auto wipe = foundation::make_deferred([&text] { util::wipe(text); });
        if (!m_crypto.decrypt(items[1].data(), items[1].size(), text.data(), error)) {
            return false;
        }
        file = bytes{};
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
        Hasher hasher;
        if (!hasher.initialize(m_crypto.get_factory(), error)) {
            return false;
        }
        const std::size_t iv_size = m_crypto.get_iv_size();
        // Room for the padding and the digest behind the body, so that it is never moved.
        bytes text;
        auto wipe = foundation::make_deferred([&text] { util::wipe(text); });
        std::size_t padding = 0;
        const bool encoded = encode_body(
            [&](std::size_t body_size) {
                padding = m_crypto.get_padding(body_size, error);
                return padding + hasher.size();
            },
            text);
        if (error) {
            return false;
        }
        if (!encoded) {
            error = database_error::failure;
            return false;
        }
        const bytes iv = generate_iv(m_crypto.get_factory(), iv_size, error);
        if (iv.empty()) {
            set_if_clear(error, database_error::failure);
            return false;
        }
        if (!m_crypto.set_iv(iv, error)) {
            return false;
        }
        text.resize(text.size() + padding, 0);
        const bytes digest = hasher.hash(text, error);
        if (digest.empty() || digest.size() > hasher.size()) {
            set_if_clear(error, database_error::failure);
            return false;
        }
        text.insert(text.end(), digest.begin(), digest.end());

        // The file frame (IV, ciphertext) is laid out first and the ciphertext written
        // straight into it.
        const std::size_t cipher_size = m_crypto.get_size_for_encrypted_data(text.size(), error);
        if (cipher_size == 0 || cipher_size > kMaxItem || iv.size() > kMaxItem) {
            set_if_clear(error, database_error::failure);
            return false;
        }
        const std::size_t header = kFrameHeader + kItemHeader + iv.size() + kItemHeader;
        const std::size_t file_size = header + cipher_size;
        auto image = std::make_unique_for_overwrite<unsigned char[]>(file_size);
        unsigned char* at = image.get();
        at = put_le(at, file_size - kFrameHeader, kFrameHeader);
        at = put_le(at, iv.size(), kItemHeader);
        at = std::copy(iv.begin(), iv.end(), at);
        at = put_le(at, cipher_size, kItemHeader);
        if (!m_crypto.encrypt(text.data(), text.size(), at, error)) {
            return false;
        }
        const std::string backup = m_backup_staged ? m_path + kBackupSuffix : std::string();
        return db::file::replace(m_path, image.get(), file_size, error, backup);
    }();
    m_backup_staged = false;
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
    if (!db::file::stage_copy(m_path, m_path + kBackupSuffix, error)) {
        ec = error;
        return false;
    }
    m_backup_staged = true;
    return true;
}

// ---- body ----

bytes Database::serialize() const {
    bytes body;
    if (!encode_body([](std::size_t) { return std::size_t{0}; }, body)) {
        util::wipe(body);
        return {};
    }
    return body;
}

namespace {

// Bytes of a section frame (signature item first) holding items of the given total size
// (length fields included), as an item of the body.
std::size_t section_size(std::size_t items) {
    return db::item_length_size + db::frame_size({sizeof(db::DatabaseStorageSignature)}) + items;
}

// Bytes of the items of a section of entries.
template <typename Entries>
std::size_t entries_size(const Entries& entries) {
    std::size_t size = 0;
    for (const auto& [id, entry] : entries) {
        size += db::item_length_size + entry.encoded_size();
    }
    return size;
}

}  // namespace

template <typename Spare>
bool Database::encode_body(const Spare& spare, bytes& out) const {
    // The body carries every account's key material. Its exact size is worked out first and
    // the buffer reserved once, so that it never moves while it is filled: a moved buffer
    // would leave a copy of the plaintext behind in freed memory.
    bytes storage = m_storage.empty() ? bytes{} : serialize_storage();
    const auto forget_storage = foundation::make_deferred([&storage] { util::wipe(storage); });
    const bytes ids = m_ids.save();
    std::size_t size = db::frame_header_size;
    if (!m_admins.empty()) {
        size += section_size(entries_size(m_admins));
    }
    if (!m_users.empty()) {
        size += section_size(entries_size(m_users));
    }
    if (!m_storage.empty()) {
        size += section_size(db::item_length_size + storage.size());
    }
    size += section_size(db::item_length_size + ids.size());
    out.clear();
    out.reserve(size + spare(size));

    bool fits = true;
    db::frame_writer body(out);
    const auto section = [&](db::DatabaseStorageSignature tag, const auto& write_items) {
        const std::size_t mark = body.begin_item();
        db::frame_writer frame(out);
        frame.item(signature(tag));
        write_items(frame);
        fits = frame.finish() && fits;
        body.end_item(mark);
    };
    if (!m_admins.empty()) {
        section(db::DatabaseStorageSignature::admins, [&](db::frame_writer& frame) {
            for (const auto& [id, entry] : m_admins) {
                const std::size_t mark = frame.begin_item();
                fits = entry.encode_into(out) && fits;
                frame.end_item(mark);
            }
        });
    }
    if (!m_users.empty()) {
        section(db::DatabaseStorageSignature::users, [&](db::frame_writer& frame) {
            for (const auto& [id, entry] : m_users) {
                const std::size_t mark = frame.begin_item();
                fits = entry.encode_into(out) && fits;
                frame.end_item(mark);
            }
        });
    }
    if (!m_storage.empty()) {
        section(db::DatabaseStorageSignature::storage,
                [&](db::frame_writer& frame) { frame.item(storage); });
    }
    section(db::DatabaseStorageSignature::ids, [&](db::frame_writer& frame) { frame.item(ids); });
    fits = body.finish() && fits;
    // Any other size means the plan was wrong and the buffer may have moved.
    return fits && out.size() == size;
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
    bytes body = std::move(data);
    auto wipe = foundation::make_deferred([&body] { util::wipe(body); });
    const auto sections = db::frame_items(body);
    if (sections.empty()) {
        return false;
    }
    for (const auto section_frame : sections) {
        const auto items = db::frame_items(section_frame);
        if (items.empty()) {
            continue;
        }
        const auto tag = static_cast<db::DatabaseStorageSignature>(
            cast::to_integer<std::uint16_t>(bytes(items[0].begin(), items[0].end())));
        const auto rest = std::span(items).subspan(1);
        switch (tag) {
            case db::DatabaseStorageSignature::admins:
                deserialize_admin(rest);
                break;
            case db::DatabaseStorageSignature::users:
                deserialize_user(rest);
                break;
            case db::DatabaseStorageSignature::storage:
                if (!rest.empty()) {
                    deserialize_storage(rest.front());
                }
                break;
            case db::DatabaseStorageSignature::ids:
                if (!rest.empty()) {
                    m_ids.load(bytes(rest.front().begin(), rest.front().end()));
                }
                break;
            default:
                break;  // a section of a later version: skipped
        }
    }
    return true;
}

void Database::deserialize_admin(std::span<const item_view> entries) {
    m_admins.reserve(m_admins.size() + entries.size());
    for (const auto item : entries) {
        db::AdminEntry entry;
        entry.decode(item);
        const auto id = entry.get_id();
        m_admins.try_emplace(id, std::move(entry));
    }
}

void Database::deserialize_user(std::span<const item_view> entries) {
    m_users.reserve(m_users.size() + entries.size());
    for (const auto item : entries) {
        db::UserEntry entry;
        entry.decode(item);
        const auto id = entry.get_id();
        m_users.try_emplace(id, std::move(entry));
    }
}

void Database::deserialize_storage(item_view storage) {
    for (const auto blob : db::frame_items(storage)) {
        const auto pair = db::frame_items(blob);
        const bytes index = pair.empty() ? bytes{} : bytes(pair[0].begin(), pair[0].end());
        bytes content = pair.size() < 2 ? bytes{} : bytes(pair[1].begin(), pair[1].end());
        m_storage.try_emplace(cast::to_integer<std::uint64_t>(index), std::move(content));
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

Database::~Database() {
    for (auto& [index, blob] : m_storage) {
        util::wipe(blob);
    }
}

void Database::update_storage(db::DatabaseStorageIndex index, bytes&& blob) {
    const auto it = m_storage.find(index);
    if (it != m_storage.end()) {
        util::wipe(it->second);
    }
    m_storage.insert_or_assign(index, std::move(blob));
}

bytes Database::get_from_storage(db::DatabaseStorageIndex index) const {
    const auto it = m_storage.find(index);
    return it == m_storage.end() ? bytes{} : it->second;
}

void Database::remove_from_storage(db::DatabaseStorageIndex index) {
    const auto it = m_storage.find(index);
    if (it != m_storage.end()) {
        util::wipe(it->second);
    }
    m_storage.erase(index);
}
