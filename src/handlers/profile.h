#pragma once

#include <string>
#include <vector>

namespace Container {

// The body of "Add" and "Remove": the account name and, for "Add", the path of the key
// store file the client prepared. Frame items: name, path.
class Profile {
  public:
    using bytes = std::vector<unsigned char>;

    Profile() = default;
    Profile(std::string account_name, std::string keystore_path)
        : name(std::move(account_name)), path(std::move(keystore_path)) {}

    bytes serialize() const;
    // Replaces both fields from a frame; an empty input changes nothing, missing items
    // become empty strings.
    void deserialize(const bytes& data);

    std::string name;
    std::string path;
};

}  // namespace Container
