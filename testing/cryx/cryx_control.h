#pragma once

// What the encryption driver stand-in shares between its parts: the control interface the
// daemon drives ("/dev/cryx-control", the add and remove requests and the add record), the
// files the stand-in keeps inside the sandbox, and the messages that carry a control request
// from the preload library to zt-cryxd over its control socket.

#include <cstddef>
#include <cstdint>

namespace zt_cryx {

// The driver's control node and the two requests issued on it.
inline constexpr const char* control_node = "/dev/cryx-control";
inline constexpr unsigned long add_request = 0x4C80;     // argument: address of the add record
inline constexpr unsigned long remove_request = 0x4C81;  // argument: the device number by value
// Devices are the block nodes "/dev/cryx" followed by their number.
inline constexpr const char* device_prefix = "/dev/cryx";
inline constexpr const char* modules_file = "/proc/modules";
inline constexpr const char* sys_block_prefix = "/sys/block/cryx";

// The add record: packed, host byte order, zero-filled by the sender.
namespace add_record {
inline constexpr std::size_t size = 4169;
inline constexpr std::size_t number = 0;  // int32: -1 lets the driver choose; the result
inline constexpr std::size_t managed_device = 4;
inline constexpr std::size_t managed_device_size = 4096;
inline constexpr std::size_t keys_flag = 4100;  // 1: mode and keys follow
inline constexpr std::size_t mode = 4101;       // int32, always 2
inline constexpr std::size_t second_key = 4105;
inline constexpr std::size_t first_key = 4137;
inline constexpr std::size_t key_size = 32;
inline constexpr std::int32_t expected_mode = 2;
}  // namespace add_record

// The stand-in's files inside the sandbox. The directory is root's alone (0700).
inline constexpr const char* run_dir = "/run/zt-cryx";
inline constexpr const char* control_socket = "/run/zt-cryx/control";
// One word, "absent", "loading" or "live": the module line that "/proc/modules" shows.
inline constexpr const char* module_state_file = "/run/zt-cryx/module";
// "<run_dir>/block/cryxN/dev" answers "/sys/block/cryxN/dev".
inline constexpr const char* block_dir = "/run/zt-cryx/block";
// Mount points (empty regular files) of the decrypted views, one per device number.
inline constexpr const char* view_dir = "/run/zt-cryx/views";

// The largest device number the driver hands out or accepts.
inline constexpr std::int32_t max_device_number = 1023;

// One control request as a single datagram on the control socket (SOCK_SEQPACKET).
enum class control_op : std::uint32_t { add = 1, remove = 2 };

struct control_request {
    control_op op;
    std::int32_t number;                     // remove: the device number; add: unused
    unsigned char record[add_record::size];  // add: the record as the caller passed it
};

// The answer: the request's result (0 or -1), errno when it failed, and for an add the
// number of the device made.
struct control_reply {
    std::int32_t result;
    std::int32_t error;
    std::int32_t number;
};

}  // namespace zt_cryx
