#pragma once

#include "database/database_entry.h"
#include "database/disk_entry.h"

namespace db {

// A user account with its (at most one) disk. A disk with a null UUID means no disk.
class UserEntry : public DatabaseEntry {
  public:
    UserEntry() = default;

    // Frame items: id (8), container creation time (8), name, disk (nested frame),
    // container, public key, parameter, symmetric material, encrypted key, hash.
    bool encode_into(bytes& out) const override;
    std::size_t encoded_size() const override;
    // A disk item without items leaves the disk as it was (a fresh entry keeps its default
    // disk).
    void decode(std::span<const unsigned char> data) override;

    entry_profile profile() const override;
    // The basic record when the user has no disk, else the record with the disk part.
    EntryInfo info() const override;

    DiskEntry& disk() noexcept { return m_disk; }
    const DiskEntry& disk() const noexcept { return m_disk; }

    // Stored and loaded, never written by any request.
    bytes& get_encrypted_key() noexcept { return m_encrypted_key; }

  private:
    DiskEntry m_disk;
    bytes m_encrypted_key;
};

}  // namespace db
