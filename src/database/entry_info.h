#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "database/disk_state.h"
#include "database/entry_profile.h"

// Reply record of the info request: the account and, for a user with a disk, the disk.
class EntryInfo {
  public:
    using bytes = std::vector<unsigned char>;

    // The disk part of an info reply.
    struct Extended {
        std::string uuid;  // 36-character lower-case text
        std::string path;
        std::uint64_t size = 0;
        std::int64_t creation_time = 0;
        DiskStateInfo status = DiskStateInfo::none;

        // Present when the disk has a status.
        explicit operator bool() const noexcept { return status != DiskStateInfo::none; }
        // Empties the strings and zeroes size and status; the creation time stays.
        void clear() noexcept;
    };

    EntryInfo() = default;
    // A basic record without the disk part.
    EntryInfo(std::string account_name, std::uint64_t account_id, std::int64_t time,
              entry_type kind)
        : name(std::move(account_name)), id(account_id), creation_time(time), type(kind) {}
    // A record with the disk part.
    EntryInfo(std::string account_name, std::uint64_t account_id, std::int64_t time,
              entry_type kind, Extended extended_part)
        : extended(true),
          name(std::move(account_name)),
          id(account_id),
          creation_time(time),
          type(kind),
          ext(std::move(extended_part)) {}

    // Frame items: name, id (8), creation time (8), type (4), extended flag (1); then, when
    // the flag is set, uuid, path, size (8), creation time (8), status (4).
    bytes serialize() const;
    // Replaces the fields from a frame; without the flag an existing disk part is cleared.
    void deserialize(const bytes& data);

    bool extended = false;
    std::string name;
    std::uint64_t id = 0;
    std::int64_t creation_time = 0;
    entry_type type = entry_type::user;
    Extended ext;
};
