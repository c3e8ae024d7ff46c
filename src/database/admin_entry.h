#pragma once

#include <span>

#include "database/database_entry.h"

namespace db {

// An administrator account. Administrators come with the provisioned database file; the
// service only reads them.
class AdminEntry : public DatabaseEntry {
  public:
    AdminEntry() = default;

    // Frame items: id (8), container creation time (8), name, container, public key,
    // parameter, symmetric material, hash.
    bytes serialize() const override;
    // Appends the same frame to out; false when an item outgrew its 32-bit length.
    bool encode_into(bytes& out) const;
    // Replaces every field from a frame; missing items read as empty or zero.
    void deserialize(const bytes& data) override;
    // The same from a frame read in place (the database file's entries).
    void decode(std::span<const unsigned char> data);

    entry_profile profile() const override;
    // Always the basic record: administrators have no disk.
    EntryInfo info() const override;
};

}  // namespace db
