#pragma once

#include <string>
#include <system_error>
#include <unordered_map>
#include <utility>
#include <vector>

#include "config/config_manager_error.h"

// Reader and writer of a settings file made of "key = value" lines with "#" comments.
// Blanks anywhere in a key or value are not significant, trailing "/" of a value are
// dropped, lines that do not split into exactly one key and one value are ignored, and the
// first line of a key wins. File errors are errno values in the generic category.
class config_manager {
  public:
    config_manager() = default;
    explicit config_manager(const std::string& path);
    explicit config_manager(std::string&& path);

    // Points the object at another file; the cache is kept.
    void set_config(std::string path);

    // The value of key: from the cache when read_all or write put it there, otherwise
    // freshly from the file. Empty when the key, the file or key itself is missing; ec is
    // set only for file errors.
    std::string read(const char* key, std::error_code& ec);

    // The cached value of key, or empty; never touches the file.
    std::string get(const char* key) const;

    // Adds every pair of the file to the cache (pairs already cached are kept). False when
    // the file is missing (ec set) or has no lines.
    bool read_all(std::error_code& ec);

    // A copy of the cached pairs, in the cache's order.
    std::vector<std::pair<std::string, std::string>> collect() const;

    // Sets key to value in the file, replacing the key's first line in place or appending a
    // line, and keeping every other line, comments included; then in the cache. Never
    // creates a file: a missing (ec set) or empty file gives false. A key with blanks or
    // "=" or a leading "#", or a key or value with "=" or a line break, would not read back
    // as written and is refused with not_supported_symbol; null arguments give
    // invalid_argument.
    bool write(const char* key, const char* value, std::error_code& ec);

  private:
    std::string m_path;
    std::unordered_map<std::string, std::string> m_cache;
};

// The written form of a setting: key, " = ", value.
std::string build_config_line(const std::string& key, const std::string& value);
