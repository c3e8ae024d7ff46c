#include "system/uuid.h"

#include <cstring>

namespace {

constexpr std::size_t kUuidSize = sizeof(uuid_t);
// uuid_unparse writes 36 characters and a terminator.
constexpr std::size_t kTextSize = 37;

}  // namespace

Uuid::Uuid() noexcept {
    uuid_clear(m_value);
}

Uuid::Uuid(const std::vector<unsigned char>& raw) noexcept : Uuid() {
    *this = raw;
}

Uuid& Uuid::operator=(const std::vector<unsigned char>& raw) noexcept {
    if (raw.size() < kUuidSize) {
        uuid_clear(m_value);
    } else {
        std::memcpy(m_value, raw.data(), kUuidSize);
    }
    return *this;
}

Uuid::Uuid(const Uuid& other) noexcept {
    uuid_copy(m_value, other.m_value);
}

Uuid& Uuid::operator=(const Uuid& other) noexcept {
    uuid_copy(m_value, other.m_value);
    return *this;
}

Uuid::Uuid(Uuid&& other) noexcept {
    uuid_copy(m_value, other.m_value);
    uuid_clear(other.m_value);
}

Uuid& Uuid::operator=(Uuid&& other) noexcept {
    if (this != &other) {
        uuid_copy(m_value, other.m_value);
        uuid_clear(other.m_value);
    }
    return *this;
}

void Uuid::generate() noexcept {
    uuid_generate_random(m_value);
}

bool Uuid::parse(const std::string& text) noexcept {
    uuid_t parsed;
    // uuid_parse reads a C string; an embedded zero byte would hide the rest of the text.
    if (text.size() != kTextSize - 1 || uuid_parse(text.c_str(), parsed) != 0) {
        return false;
    }
    uuid_copy(m_value, parsed);
    return true;
}

std::string Uuid::str() const {
    char text[kTextSize];
    uuid_unparse_lower(m_value, text);
    return text;
}

std::string Uuid::upper() const {
    char text[kTextSize];
    uuid_unparse_upper(m_value, text);
    return text;
}

std::vector<unsigned char> Uuid::get() const {
    return {m_value, m_value + kUuidSize};
}

bool Uuid::is_null() const noexcept {
    return uuid_is_null(m_value) != 0;
}

void Uuid::clear() noexcept {
    uuid_clear(m_value);
}

bool Uuid::operator==(const Uuid& other) const noexcept {
    return uuid_compare(m_value, other.m_value) == 0;
}

bool Uuid::operator!=(const Uuid& other) const noexcept {
    return !(*this == other);
}
