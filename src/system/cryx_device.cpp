#include "system/cryx_device.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <utility>

#include "foundation/defer.h"
#include "system/unique_fd.h"
#include "system/wipe.h"

namespace {

constexpr const char* kControlNode = "/dev/cryx-control";
constexpr std::string_view kNodePrefix = "/dev/cryx";
constexpr unsigned long kAddRequest = 0x4C80;
constexpr unsigned long kRemoveRequest = 0x4C81;
constexpr std::int32_t kMode = 2;

std::error_code last_error() {
    return {errno != 0 ? errno : EIO, std::generic_category()};
}

// Opens the control node for one request: the descriptor, or none with errno.
os::unique_fd open_control(const sys::kernel_calls& calls, std::error_code& ec) {
    errno = 0;
    os::unique_fd control(calls.open(kControlNode, O_RDWR | O_CLOEXEC));
    if (!control) {
        ec = last_error();
    }
    return control;
}

}  // namespace

cryx_device::cryx_device() noexcept : m_number(-1), m_mode(kMode) {}

cryx_device::cryx_device(cryx_device&& other) noexcept
    : m_number(std::exchange(other.m_number, -1)),
      m_mode(other.m_mode),
      m_managed_device(std::move(other.m_managed_device)),
      m_first_key(std::move(other.m_first_key)),
      m_second_key(std::move(other.m_second_key)) {
    other.m_managed_device.clear();
    other.erase();
}

cryx_device& cryx_device::operator=(cryx_device&& other) noexcept {
    if (this != &other) {
        erase();
        m_number = std::exchange(other.m_number, -1);
        m_mode = other.m_mode;
        m_managed_device = std::move(other.m_managed_device);
        m_first_key = std::move(other.m_first_key);
        m_second_key = std::move(other.m_second_key);
        other.m_managed_device.clear();
        other.erase();
    }
    return *this;
}

std::string cryx_device::get_device_name() const {
    return m_number < 0 ? std::string() : std::string(kNodePrefix) + std::to_string(m_number);
}

bool cryx_device::set_device_name(std::string_view name) {
    if (m_number >= 0) {
        return false;
    }
    std::int32_t number = -1;
    try {
        number = parse_device_number(name);
    } catch (const std::invalid_argument&) {
        return false;
    } catch (const std::out_of_range&) {
        return false;
    }
    if (number < 0) {
        return false;
    }
    m_number = number;
    return true;
}

bool cryx_device::set_keys(const bytes& first, const bytes& second) {
    if (first.size() != key_size || second.size() != key_size) {
        return false;
    }
    erase();
    m_first_key = first;
    m_second_key = second;
    return true;
}

void cryx_device::erase() noexcept {
    util::wipe(m_first_key);
    util::wipe(m_second_key);
    m_first_key.clear();
    m_second_key.clear();
}

void cryx_device::fill_add_request(cryx_add_request& request) const noexcept {
    std::memset(&request, 0, sizeof(request));
    request.number = m_number;
    const std::size_t length = std::min(m_managed_device.size(), managed_device_limit);
    std::memcpy(request.managed_device, m_managed_device.data(), length);
    if (!m_first_key.empty() && !m_second_key.empty()) {
        request.keys_flag = 1;
        request.mode = m_mode;
        std::memcpy(request.second_key, m_second_key.data(),
                    std::min(m_second_key.size(), sizeof(request.second_key)));
        std::memcpy(request.first_key, m_first_key.data(),
                    std::min(m_first_key.size(), sizeof(request.first_key)));
    }
}

bool cryx_device::add(std::error_code& ec, const sys::kernel_calls& calls) {
    ec.clear();
    if (m_managed_device.empty()) {
        ec = cryx_error::managed_device_not_set;
        return false;
    }
    const os::unique_fd control = open_control(calls, ec);
    if (!control) {
        return false;
    }
    cryx_add_request request;
    const auto wipe_request =
        foundation::make_deferred([&] { util::wipe(&request, sizeof(request)); });
    fill_add_request(request);
    errno = 0;
    if (calls.request(control.get(), kAddRequest, reinterpret_cast<std::uintptr_t>(&request)) < 0) {
        ec = last_error();
        return false;
    }
    if (m_number == -1) {
        m_number = request.number;
    }
    return true;
}

bool cryx_device::remove(std::error_code& ec, const sys::kernel_calls& calls) {
    ec.clear();
    if (m_number < 0) {
        ec = cryx_error::device_name_not_set;
        return false;
    }
    const os::unique_fd control = open_control(calls, ec);
    if (!control) {
        return false;
    }
    errno = 0;
    // The driver takes the number itself, not its address.
    if (calls.request(control.get(), kRemoveRequest, static_cast<std::uintptr_t>(m_number)) < 0) {
        ec = last_error();
        return false;
    }
    m_number = -1;
    m_managed_device.clear();
    erase();
    return true;
}

std::int32_t parse_device_number(std::string_view name) {
    if (name.size() <= kNodePrefix.size()) {
        return -1;
    }
    return std::stoi(std::string(name.substr(kNodePrefix.size())));
}
