#pragma once

#include <sys/types.h>

#include <string>
#include <system_error>
#include <vector>

#include "system/unique_fd.h"

// The key store file a client names in a registration request. The daemon reads it as
// root, so the path is hostile: no symbolic link is followed anywhere in it, only a regular
// file of a key store's size is read, and removal takes away the very file that was read.
class keystore_file {
  public:
    // The largest key store accepted; real ones are a few kilobytes.
    static constexpr std::size_t max_size = 1 << 20;

    // Reads the file at path (absolute). A link in the path: ELOOP; not a regular file:
    // EINVAL; larger than max_size: EFBIG; other failures their errno (generic category).
    bool read(const std::string& path, std::vector<unsigned char>& data, std::error_code& ec);

    // Removes the file read last, if the name still leads to that same file (device and
    // inode) in the same directory; anything else is left alone. Returns whether it did.
    bool remove() noexcept;

  private:
    os::unique_fd m_directory;  // the directory the file was found in
    std::string m_name;         // the file's name in it
    dev_t m_device = 0;
    ino_t m_inode = 0;
};
