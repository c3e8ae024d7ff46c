#pragma once

#include "database/database_entry.h"

namespace db {

// An administrator account. Administrators come with the provisioned database file; the
// service only reads them.
class AdminEntry : public DatabaseEntry {
  public:
    AdminEntry() = default;

    // Frame items: id (8), container creation time (8), name, container, public key,
    // parameter, symmetric material, hash.
    bool encode_into(bytes& out) const override;
    std::size_t encoded_size() const override;
    void decode(std::span<const unsigned char> data) override;

    entry_profile profile() const override;
    // Always the basic record: administrators have no disk.
    EntryInfo info() const override;
};

}  // namespace db
