#pragma once

#include <cstddef>
#include <string>
#include <system_error>
#include <vector>

// Whole-file operations on the database file. The file is only ever replaced as a whole:
// a reader (or a crash) sees either the previous complete file or the new complete file.
namespace db::file {

using bytes = std::vector<unsigned char>;

// Reads the whole file into data. Failures give errno in the generic category.
bool read(const std::string& path, bytes& data, std::error_code& ec);

// Writes data to a temporary file beside path (path + ".new", mode 0600), flushes it to
// disk and renames it over path, then flushes the directory. On failure the file at path
// is untouched and the temporary file is removed; errno in the generic category.
//
// With a backup_path whose copy stage_copy() prepared, that copy takes backup_path's place
// just before the rename, so that the two files change together: when the new file cannot
// be written, neither changes; when the rename fails, the previous backup is put back (where
// the file system can exchange two names; elsewhere the backup is then already the copy).
// A crash in between leaves a complete database file and a backup that is an earlier one.
bool replace(const std::string& path, const bytes& data, std::error_code& ec,
             const std::string& backup_path = {});
bool replace(const std::string& path, const unsigned char* data, std::size_t size,
             std::error_code& ec, const std::string& backup_path = {});

// Prepares a copy of path as backup_path + ".new" without touching path or backup_path: a
// hard link or, where the file system refuses links, a complete copy. replace() puts it in
// place.
bool stage_copy(const std::string& path, const std::string& backup_path, std::error_code& ec);

}  // namespace db::file
