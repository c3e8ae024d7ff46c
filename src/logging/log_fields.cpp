#include "logging/log_fields.h"

#include <array>
#include <cstddef>

namespace ztl {

namespace {

constexpr std::size_t kFieldCount = 3;

std::array<std::string, kFieldCount>& values() {
    static std::array<std::string, kFieldCount> current;
    return current;
}

std::size_t index_of(log_field f) noexcept {
    return static_cast<std::size_t>(f);
}

}  // namespace

const char* log_field_name(log_field f) noexcept {
    switch (f) {
        case log_field::method:
            return "ZTCTL_METHOD";
        case log_field::user:
            return "ZTCTL_USER";
        case log_field::disk_uuid:
            return "ZTCTL_DISK_UUID";
    }
    return "";
}

void LogFields::set(log_field f, std::string value) {
    values()[index_of(f)] = std::move(value);
}

const std::string& LogFields::get(log_field f) noexcept {
    return values()[index_of(f)];
}

void LogFields::clear() noexcept {
    for (auto& value : values()) {
        value.clear();
    }
}

RequestLogScope::RequestLogScope(const char* method) {
    LogFields::clear();
    LogFields::set(log_field::method, method != nullptr ? method : "");
}

RequestLogScope::~RequestLogScope() {
    LogFields::clear();
}

}  // namespace ztl
