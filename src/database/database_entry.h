#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

#include "database/entry_info.h"
#include "database/entry_profile.h"
#include "database/serializer.h"

namespace db {

// Common part of an account record (administrator or user). Getters return references to
// the stored fields, so handlers can change a field in place. The token (parameter), the
// symmetric material and the container are wiped before their memory goes back: when the
// record is destroyed, assigned to or decoded again, or the field is set anew.
class DatabaseEntry : public Serialized {
  public:
    using bytes = std::vector<unsigned char>;
    ~DatabaseEntry() override;
    // Computes the hash of a key container (the service hash).
    using hash_function = std::function<bytes(const bytes&)>;

    virtual std::uint64_t get_id() const;
    virtual std::string& get_name();
    virtual bytes& get_public_key();
    virtual bytes& get_parameter();
    virtual bytes& get_container();
    virtual bytes& get_symmetric_material();

    virtual void set_id(std::uint64_t id);
    virtual void set_name(std::string name);
    virtual void set_public_key(bytes key);
    virtual void set_parameter(bytes parameter);
    // Stores the container, hash(container) as the container hash, and the creation time.
    virtual void set_container(bytes container, const hash_function& hash,
                               std::int64_t creation_time);
    virtual void set_symmetric_material(bytes material);

    virtual bytes& get_hash();
    virtual std::int64_t get_container_creation_time() const;

    // The record's frame, built by encode_into.
    bytes serialize() const final;
    // Replaces the fields from a frame through decode.
    void deserialize(const bytes& data) final;
    // Appends the record's frame to out; false when an item outgrew its 32-bit length.
    virtual bool encode_into(bytes& out) const = 0;
    // Bytes that encode_into appends.
    virtual std::size_t encoded_size() const = 0;
    // Replaces the fields from a frame read in place (the database file's entries); missing
    // items read as empty or zero.
    virtual void decode(std::span<const unsigned char> data) = 0;

    // The profile and info replies of this account.
    virtual entry_profile profile() const = 0;
    virtual EntryInfo info() const = 0;

    // Read-only views for callers that hold a const entry.
    const std::string& name() const noexcept { return m_name; }
    const bytes& hash() const noexcept { return m_hash; }
    const bytes& container() const noexcept { return m_container; }

  protected:
    DatabaseEntry() = default;
    DatabaseEntry(const DatabaseEntry&) = default;
    DatabaseEntry(DatabaseEntry&&) noexcept = default;
    DatabaseEntry& operator=(const DatabaseEntry& other);
    DatabaseEntry& operator=(DatabaseEntry&& other) noexcept;

    // Overwrites the secret fields with zeros (their sizes stay).
    void wipe_secrets() noexcept;

    std::uint64_t m_id = 0;
    std::int64_t m_creation_time = 0;
    std::string m_name;
    bytes m_container;
    bytes m_public_key;
    bytes m_parameter;
    bytes m_symmetric_material;
    bytes m_hash;
};

}  // namespace db
