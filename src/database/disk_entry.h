#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "database/disk_state.h"
#include "database/serializer.h"
#include "system/uuid.h"

namespace db {

// A user's disk: its container file, mount directory, file system, size, UUID, hash,
// status and creation time. A null UUID means the user has no disk. The runtime state
// (devices, mounted flag) lives beside the stored fields and is never encoded.
class DiskEntry : public Serialized {
  public:
    using bytes = std::vector<unsigned char>;

    DiskEntry() = default;

    // Frame items: size, path, mount directory, fs, guid (16 raw bytes), hash, status,
    // creation time.
    bytes serialize() const override;
    // Appends the same frame to out.
    void encode_into(bytes& out) const;
    // Bytes that encode_into appends.
    std::size_t encoded_size() const;
    // A frame without items leaves the entry exactly as it was; otherwise every stored
    // field is replaced and a "mounted" status reads back as "unmounted" (check_status).
    void deserialize(const bytes& frame) override;
    // The same from a frame read in place (the database file's entries).
    void decode(std::span<const unsigned char> frame);

    DiskState& state() noexcept { return m_state; }
    const DiskState& state() const noexcept { return m_state; }

    Uuid& guid() noexcept { return m_guid; }
    const Uuid& guid() const noexcept { return m_guid; }

    const std::string& get_path() const noexcept { return m_path; }
    void set_path(std::string path) { m_path = std::move(path); }

    const std::string& get_mount_directory() const noexcept { return m_mount_directory; }
    void set_mount_directory(std::string directory) { m_mount_directory = std::move(directory); }

    const std::string& get_fs() const noexcept { return m_fs; }
    void set_fs(std::string fs) { m_fs = std::move(fs); }

    const bytes& get_hash() const noexcept { return m_hash; }
    void set_hash(bytes hash) { m_hash = std::move(hash); }

    std::uint64_t get_size() const noexcept { return m_size; }
    void set_size(std::uint64_t size) noexcept { m_size = size; }

    DiskStateInfo get_status() const noexcept { return m_status; }
    void set_status(DiskStateInfo status) noexcept { m_status = status; }
    // A disk cannot still be mounted after the daemon restarted: turns "mounted" into
    // "unmounted" and leaves every other status alone.
    void check_status() noexcept;

    std::int64_t get_creation_time() const noexcept { return m_creation_time; }
    void set_creation_time(std::int64_t time) noexcept { m_creation_time = time; }

  private:
    DiskState m_state;
    std::string m_path;
    std::string m_mount_directory;
    std::string m_fs;
    std::uint64_t m_size = 0;
    Uuid m_guid;
    bytes m_hash;
    DiskStateInfo m_status = DiskStateInfo::none;
    std::int64_t m_creation_time = 0;
};

// The raw 16 bytes of a UUID as stored in frames.
std::vector<unsigned char> uuid_to_bytes(const Uuid& uuid);
// Reads a stored UUID item; an item that is not exactly 16 bytes reads as the null UUID.
Uuid uuid_from_bytes(const std::vector<unsigned char>& item);

}  // namespace db
