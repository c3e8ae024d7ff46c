#include "database/database_entry.h"

#include <utility>

namespace db {

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
    m_parameter = std::move(parameter);
}
void DatabaseEntry::set_container(bytes container, const hash_function& hash,
                                  std::int64_t creation_time) {
    m_hash = hash ? hash(container) : bytes{};
    m_container = std::move(container);
    m_creation_time = creation_time;
}
void DatabaseEntry::set_symmetric_material(bytes material) {
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
