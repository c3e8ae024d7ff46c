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
bool replace(const std::string& path, const bytes& data, std::error_code& ec);
bool replace(const std::string& path, const unsigned char* data, std::size_t size,
             std::error_code& ec);

// Makes backup_path a copy of path without touching path: a hard link renamed into place,
// or, where the file system refuses links, a complete copy written by replace(). An
// existing backup is only replaced once the new one is complete.
bool keep_copy(const std::string& path, const std::string& backup_path, std::error_code& ec);

}  // namespace db::file
