#pragma once

#include <string>
#include <vector>

// The body of the requests that name a disk by its UUID: the UUID text and, for a mount, the
// disk key. Frame items: uuid, data.
class DiskControl {
  public:
    using bytes = std::vector<unsigned char>;

    DiskControl() = default;
    explicit DiskControl(std::string uuid_text) : uuid(std::move(uuid_text)) {}
    DiskControl(DiskControl&&) noexcept = default;
    DiskControl& operator=(DiskControl&&) noexcept = default;
    DiskControl(const DiskControl&) = delete;
    DiskControl& operator=(const DiskControl&) = delete;
    // The data may be a disk key: it is wiped.
    ~DiskControl();

    bytes serialize() const;
    // Replaces both fields from a frame; an empty input changes nothing.
    void deserialize(const bytes& frame);

    std::string uuid;
    bytes data;
};
