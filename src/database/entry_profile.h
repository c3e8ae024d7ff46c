#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

// Kind of an account; replies carry it as an unsigned 32-bit value.
enum class entry_type : std::uint32_t {
    admin = 4096,
    user = 8192,
};

// Reply record of the profile request: who the account is.
class entry_profile {
  public:
    using bytes = std::vector<unsigned char>;

    entry_profile() = default;
    entry_profile(std::string account_name, std::uint64_t account_id, entry_type kind)
        : name(std::move(account_name)), id(account_id), type(kind) {}

    // Frame items: name, id (8), type (4).
    bytes serialize() const;
    // Replaces the fields from a frame; missing items read as empty or zero.
    void desiarialize(const bytes& data);

    std::string name;
    std::uint64_t id = 0;
    entry_type type = entry_type::user;
};
