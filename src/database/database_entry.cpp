#include "database/database_entry.h"

#include <utility>

#include "system/wipe.h"

namespace db {

DatabaseEntry::~DatabaseEntry() {
    wipe_secrets();
}

DatabaseEntry& DatabaseEntry::operator=(const DatabaseEntry& other) {
    if (this != &other) {
        wipe_secrets();
        m_id = other.m_id;
        m_creation_time = other.m_creation_time;
        m_name = other.m_name;
        m_container = other.m_container;
        m_public_key = other.m_public_key;
        m_parameter = other.m_parameter;
        m_symmetric_material = other.m_symmetric_material;
        m_hash = other.m_hash;
    }
    return *this;
}

DatabaseEntry& DatabaseEntry::operator=(DatabaseEntry&& other) noexcept {
    if (this != &other) {
        wipe_secrets();
        m_id = other.m_id;
        m_creation_time = other.m_creation_time;
        m_name = std::move(other.m_name);
        m_container = std::move(other.m_container);
        m_public_key = std::move(other.m_public_key);
        m_parameter = std::move(other.m_parameter);
        m_symmetric_material = std::move(other.m_symmetric_material);
        m_hash = std::move(other.m_hash);
    }
    return *this;
}

void DatabaseEntry::wipe_secrets() noexcept {
    util::wipe(m_container);
    util::wipe(m_parameter);
    util::wipe(m_symmetric_material);
}

std::uint64_t DatabaseEntry::get_id() const {
    return m_id;
}
std::string& DatabaseEntry::get_name() {
    return m_name;
}
DatabaseEntry::bytes& DatabaseEntry::get_public_key() {
    return m_public_key;
}
DatabaseEntry::bytes& DatabaseEntry::get_parameter() {
    return m_parameter;
}
DatabaseEntry::bytes& DatabaseEntry::get_container() {
    return m_container;
}
DatabaseEntry::bytes& DatabaseEntry::get_symmetric_material() {
    return m_symmetric_material;
}
DatabaseEntry::bytes& DatabaseEntry::get_hash() {
    return m_hash;
}
std::int64_t DatabaseEntry::get_container_creation_time() const {
    return m_creation_time;
}

void DatabaseEntry::set_id(std::uint64_t id) {
    m_id = id;
}
void DatabaseEntry::set_name(std::string name) {
    m_name = std::move(name);
}
void DatabaseEntry::set_public_key(bytes key) {
    m_public_key = std::move(key);
}
void DatabaseEntry::set_parameter(bytes parameter) {
    util::wipe(m_parameter);
    m_parameter = std::move(parameter);
}
void DatabaseEntry::set_container(bytes container, const hash_function& hash,
                                  std::int64_t creation_time) {
    m_hash = hash ? hash(container) : bytes{};
    util::wipe(m_container);
    m_container = std::move(container);
    m_creation_time = creation_time;
}
void DatabaseEntry::set_symmetric_material(bytes material) {
    util::wipe(m_symmetric_material);
    m_symmetric_material = std::move(material);
}

DatabaseEntry::bytes DatabaseEntry::serialize() const {
    // Sized first: a growing buffer would leave copies of the key material behind.
    bytes out;
    out.reserve(encoded_size());
    encode_into(out);
    return out;
}
void DatabaseEntry::deserialize(const bytes& data) {
    decode(data);
}

}  // namespace db
