#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace Container {

// The body of "Create": the owner, the container file's path, the file system and the size
// in bytes. Frame items: user_name, path, fs, size (8 bytes, little-endian).
class Disk {
  public:
    using bytes = std::vector<unsigned char>;

    Disk() = default;
    Disk(std::string user, std::string container_path, std::string file_system,
         std::uint64_t bytes_size)
        : user_name(std::move(user)),
          path(std::move(container_path)),
          fs(std::move(file_system)),
          size(bytes_size) {}

    bytes serialize() const;
    // Replaces the fields from a frame; an empty input changes nothing; a size item that is
    // not exactly 8 bytes reads as 0.
    void deserialize(const bytes& frame);

    std::string user_name;
    std::string path;
    std::string fs;
    std::uint64_t size = 0;
};

}  // namespace Container
