#include "testing/cryx/cryx_driver.h"

#include <fcntl.h>
#include <openssl/crypto.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>

#include "system/unique_fd.h"
#include "testing/cryx/block_devices.h"
#include "testing/cryx/fuse_view.h"
#include "testing/cryx/sector_cipher.h"

namespace zt_cryx {

namespace {

using namespace std::chrono_literals;

std::error_code errno_code(int value) {
    return {value, std::generic_category()};
}

std::error_code last_error() {
    return errno_code(errno);
}

std::int32_t read_int32(const unsigned char* at) {
    std::int32_t value = 0;
    std::memcpy(&value, at, sizeof value);
    return value;
}

std::string device_node(std::int32_t number) {
    return device_prefix + std::to_string(number);
}

std::string sys_dir(std::int32_t number) {
    return std::string(block_dir) + "/cryx" + std::to_string(number);
}

std::string view_path(std::int32_t number) {
    return std::string(view_dir) + "/" + std::to_string(number);
}

}  // namespace

// One device: each member is set up in this order and undone in the reverse one.
struct cryx_volume {
    std::int32_t number = -1;
    os::unique_fd managed;
    std::unique_ptr<fuse_view> view;
    attached_loop inner;
    bool node_made = false;
    bool sys_made = false;

    ~cryx_volume() { end(true); }

    // Undoes what was set up. With settle, waits for the inner loop device to detach before
    // its view goes, so that what it still caches reaches the managed device.
    void end(bool settle) noexcept {
        if (sys_made) {
            unlink((sys_dir(number) + "/dev").c_str());
            rmdir(sys_dir(number).c_str());
            sys_made = false;
        }
        if (node_made) {
            unlink(device_node(number).c_str());
            node_made = false;
        }
        if (inner.fd) {
            // The last descriptor: the device detaches itself, flushing through the view.
            inner.fd.reset();
            if (settle && !wait_loop_detached(inner.number, 10s)) {
                std::fprintf(stderr, "zt-cryxd: cryx%d: loop%ld is still in use\n", number,
                             inner.number);
            }
        }
        if (view) {
            view.reset();
            unlink(view_path(number).c_str());
        }
        if (managed) {
            (void)fdatasync(managed.get());
            managed.reset();
        }
    }
};

cryx_driver::cryx_driver() = default;

cryx_driver::~cryx_driver() {
    remove_all();
}

bool cryx_driver::add(std::span<const unsigned char, add_record::size> record, std::int32_t& number,
                      std::error_code& ec) {
    using namespace add_record;
    const unsigned char* path_field = record.data() + managed_device;
    const void* path_end = std::memchr(path_field, '\0', managed_device_size);
    std::int32_t wanted = read_int32(record.data() + add_record::number);
    if (record[keys_flag] != 1 || read_int32(record.data() + mode) != expected_mode ||
        path_end == nullptr || path_field[0] != '/' || wanted < -1 || wanted > max_device_number) {
        ec = errno_code(EINVAL);
        return false;
    }
    if (wanted == -1) {
        for (wanted = 0; m_volumes.contains(wanted); ++wanted) {
        }
        if (wanted > max_device_number) {
            ec = errno_code(ENOSPC);
            return false;
        }
    } else if (m_volumes.contains(wanted)) {
        ec = errno_code(EEXIST);
        return false;
    }
    const std::string path(reinterpret_cast<const char*>(path_field));

    auto volume = std::make_unique<cryx_volume>();
    volume->number = wanted;
    // Exclusive, as a mapped device is: nobody mounts the managed device under the driver.
    volume->managed.reset(open(path.c_str(), O_RDWR | O_EXCL | O_NOFOLLOW | O_CLOEXEC));
    struct stat st {};
    if (!volume->managed || fstat(volume->managed.get(), &st) != 0) {
        ec = last_error();
        return false;
    }
    std::uint64_t size = 0;
    if (!S_ISBLK(st.st_mode)) {
        ec = errno_code(ENOTBLK);
        return false;
    }
    if (!block_device_size(volume->managed.get(), size, ec)) {
        return false;
    }
    size -= size % sector_size;
    if (size == 0) {
        ec = errno_code(EINVAL);
        return false;
    }

    sector_cipher cipher;
    {
        sector_key key;
        if (!derive_sector_key(
                std::span<const unsigned char, key_size>(record.data() + first_key, key_size),
                std::span<const unsigned char, key_size>(record.data() + second_key, key_size), key,
                ec) ||
            !cipher.init(key, ec)) {
            return false;
        }
    }

    const std::string mount_point = view_path(wanted);
    unlink(mount_point.c_str());
    if (!os::unique_fd(open(mount_point.c_str(),
                            O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600))) {
        ec = last_error();
        return false;
    }
    volume->view =
        fuse_view::start(mount_point, volume->managed.get(), size, std::move(cipher), ec);
    if (!volume->view) {
        unlink(mount_point.c_str());
        return false;
    }
    {
        const os::unique_fd file(open(mount_point.c_str(), O_RDWR | O_CLOEXEC));
        if (!file) {
            ec = last_error();
            return false;
        }
        if (!attach_loop(file.get(), volume->inner, ec)) {
            return false;
        }
    }

    const std::string node = device_node(wanted);
    if (mknod(node.c_str(), S_IFBLK | 0600, volume->inner.dev) != 0) {
        ec = last_error();
        return false;
    }
    volume->node_made = true;
    const std::string dir = sys_dir(wanted);
    if (mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) {
        ec = last_error();
        return false;
    }
    volume->sys_made = true;
    const std::string dev_text = std::to_string(major(volume->inner.dev)) + ":" +
                                 std::to_string(minor(volume->inner.dev)) + "\n";
    const os::unique_fd sys(
        open((dir + "/dev").c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0644));
    if (!sys || write(sys.get(), dev_text.data(), dev_text.size()) !=
                    static_cast<ssize_t>(dev_text.size())) {
        ec = last_error();
        return false;
    }

    std::fprintf(stderr, "zt-cryxd: cryx%d over %s (loop%ld)\n", wanted, path.c_str(),
                 volume->inner.number);
    m_volumes.emplace(wanted, std::move(volume));
    number = wanted;
    ec.clear();
    return true;
}

bool cryx_driver::remove(std::int32_t number, std::error_code& ec) {
    const auto found = m_volumes.find(number);
    if (found == m_volumes.end()) {
        ec = errno_code(ENXIO);
        return false;
    }
    cryx_volume& volume = *found->second;
    if (device_in_use(volume.inner.node, volume.inner.dev, ec) || ec) {
        if (!ec) {
            ec = errno_code(EBUSY);
        }
        return false;
    }
    m_volumes.erase(found);
    std::fprintf(stderr, "zt-cryxd: cryx%d removed\n", number);
    ec.clear();
    return true;
}

void cryx_driver::remove_all() noexcept {
    for (auto& [number, volume] : m_volumes) {
        std::error_code ec;
        const bool used = device_in_use(volume->inner.node, volume->inner.dev, ec);
        volume->end(!used && !ec);
        std::fprintf(stderr, "zt-cryxd: cryx%d ended%s\n", number, used ? " while in use" : "");
    }
    m_volumes.clear();
}

}  // namespace zt_cryx
