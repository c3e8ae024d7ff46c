#pragma once

#include <sys/types.h>

#include <cstddef>
#include <string>
#include <system_error>

#include "system/unique_fd.h"

namespace fio {

// A new version of one file, written under a temporary name beside it and put in its place
// only by commit(), so that a failure at any step leaves the file as it was. A version that
// is never committed is removed when the object goes. Errors are errno in the generic
// category.
class staged_file {
  public:
    staged_file() = default;
    // Removes the temporary file unless it was committed or released.
    ~staged_file();
    staged_file(staged_file&& other) noexcept;
    staged_file& operator=(staged_file&& other) noexcept;
    staged_file(const staged_file&) = delete;
    staged_file& operator=(const staged_file&) = delete;

    // Creates an empty temporary file beside target: same directory, a fresh name that no
    // entry had (never a link), mode 0600.
    bool create(const std::string& target, std::error_code& ec);
    // Gives the temporary file a mode and an owner before it is filled.
    bool set_attributes(mode_t mode, uid_t uid, gid_t gid, std::error_code& ec);
    // Writes all of data, flushes it to the disk and closes the file; nothing can be
    // written after this.
    bool write(const void* data, std::size_t size, std::error_code& ec);
    // Renames the temporary file over the target (a link there is replaced, not followed)
    // and flushes the directory entry.
    bool commit(std::error_code& ec);
    // The caller has moved or removed the temporary file itself; it is no longer removed.
    void release() noexcept;

    const std::string& target() const noexcept { return m_target; }
    // Empty once committed or released.
    const std::string& temporary_path() const noexcept { return m_temporary; }

  private:
    void discard() noexcept;

    std::string m_target;
    std::string m_temporary;
    os::unique_fd m_fd;
};

// Flushes the directory holding path, so that a rename in it survives a crash.
void sync_directory_of(const std::string& path) noexcept;

}  // namespace fio
