#include "config/config_manager.h"

#include <optional>

#include "system/fio.h"
#include "system/join.h"
#include "system/split.h"
#include "system/text.h"

namespace {

using setting = std::pair<std::string, std::string>;

bool is_blank(char c) noexcept {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

bool is_comment(const std::string& line) {
    for (const char c : line) {
        if (!is_blank(c)) {
            return c == '#';
        }
    }
    return false;
}

// The raw key and value pieces of a line that counts, before cleaning. A "\r" left by a
// file with "\r\n" endings is not part of the line.
std::optional<setting> split_setting(const std::string& line) {
    if (is_comment(line)) {
        return std::nullopt;
    }
    std::string body = line;
    if (!body.empty() && body.back() == '\r') {
        body.pop_back();
    }
    auto pieces = util::split(body, '=');
    if (pieces.size() != 2) {
        return std::nullopt;
    }
    return setting{std::move(pieces[0]), std::move(pieces[1])};
}

std::string clean_key(std::string key) {
    util::remove_spaces(key);
    return key;
}

std::string clean_value(std::string value) {
    util::remove_spaces(value);
    while (!value.empty() && value.back() == '/') {
        value.pop_back();
    }
    return value;
}

// The cleaned pair of a line that counts.
std::optional<setting> parse_line(const std::string& line) {
    auto raw = split_setting(line);
    if (!raw) {
        return std::nullopt;
    }
    return setting{clean_key(std::move(raw->first)), clean_value(std::move(raw->second))};
}

std::vector<std::string> read_lines(const std::string& path, std::error_code& ec) {
    return util::split(fio::read(path, ec), '\n');
}

bool has_any(const std::string& text, const char* symbols) {
    return text.find_first_of(symbols) != std::string::npos;
}

// A key or value that the reader would take apart differently than it was written.
bool is_writable(const std::string& key, const std::string& value) {
    if (key.empty() || key.front() == '#' || has_any(key, "= \t\n\v\f\r")) {
        return false;
    }
    return !has_any(value, "=\n\r");
}

}  // namespace

config_manager::config_manager(const std::string& path) : m_path(path) {}

config_manager::config_manager(std::string&& path) : m_path(std::move(path)) {}

void config_manager::set_config(std::string path) {
    m_path = std::move(path);
}

std::string config_manager::read(const char* key, std::error_code& ec) {
    ec.clear();
    if (key == nullptr) {
        return {};
    }
    if (!m_cache.empty()) {
        if (const auto cached = m_cache.find(key); cached != m_cache.end()) {
            return cached->second;
        }
    }
    for (const auto& line : read_lines(m_path, ec)) {
        auto pair = parse_line(line);
        if (pair && pair->first == key) {
            return std::move(pair->second);
        }
    }
    return {};
}

std::string config_manager::get(const char* key) const {
    if (key == nullptr) {
        return {};
    }
    const auto cached = m_cache.find(key);
    return cached != m_cache.end() ? cached->second : std::string();
}

bool config_manager::read_all(std::error_code& ec) {
    ec.clear();
    const auto lines = read_lines(m_path, ec);
    if (lines.empty()) {
        return false;
    }
    for (const auto& line : lines) {
        if (auto pair = parse_line(line)) {
            m_cache.emplace(std::move(pair->first), std::move(pair->second));
        }
    }
    return true;
}

std::vector<std::pair<std::string, std::string>> config_manager::collect() const {
    return {m_cache.begin(), m_cache.end()};
}

bool config_manager::write(const char* key, const char* value, std::error_code& ec) {
    ec.clear();
    if (key == nullptr || value == nullptr) {
        ec = std::make_error_code(std::errc::invalid_argument);
        return false;
    }
    if (!is_writable(key, value)) {
        ec = config_manager_error::not_supported_symbol;
        return false;
    }
    auto lines = read_lines(m_path, ec);
    if (lines.empty()) {
        return false;
    }
    const std::string new_line = build_config_line(key, value);
    bool replaced = false;
    for (auto& line : lines) {
        const auto raw = split_setting(line);
        if (raw && clean_key(raw->first) == key) {
            line = new_line;
            replaced = true;
            break;
        }
    }
    if (!replaced) {
        lines.push_back(new_line);
    }
    if (!fio::write(m_path, util::join(lines, '\n'), ec)) {
        return false;
    }
    m_cache[key] = value;
    return true;
}

std::string build_config_line(const std::string& key, const std::string& value) {
    return key + " = " + value;
}
