#include "testing/sandbox_dev.h"

#include <dirent.h>
#include <fcntl.h>
#include <linux/loop.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <set>
#include <sstream>
#include <system_error>
#include <thread>

#include "testing/unique_fd.h"

namespace zt_testing::sandbox_dev {

namespace {

// How many loop numbers beyond the highest existing device get a node in advance.
constexpr long kLoopMargin = 64;

[[noreturn]] void fail(const std::string& what) {
    throw std::system_error(errno, std::generic_category(), what);
}

std::string read_text(const std::string& path) {
    std::ifstream in(path);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

// "MAJOR:MINOR" as a device number, or nothing.
bool parse_dev(const std::string& text, dev_t& dev) {
    unsigned major_number = 0;
    unsigned minor_number = 0;
    char colon = 0;
    std::istringstream in(text);
    if (!(in >> major_number >> colon >> minor_number) || colon != ':') {
        return false;
    }
    dev = makedev(major_number, minor_number);
    return true;
}

// The block major of loop devices, from /proc/devices (7 where it is not listed).
unsigned loop_major() {
    std::istringstream in(read_text("/proc/devices"));
    bool block = false;
    for (std::string line; std::getline(in, line);) {
        if (line == "Block devices:") {
            block = true;
            continue;
        }
        std::istringstream fields(line);
        unsigned number = 0;
        std::string name;
        if (block && fields >> number >> name && name == "loop") {
            return number;
        }
    }
    return 7;
}

// The minor of loop device n is n shifted by the bits its partitions take.
unsigned loop_part_shift() {
    const long max_part = std::atol(read_text("/sys/module/loop/parameters/max_part").c_str());
    return max_part > 0
               ? static_cast<unsigned>(std::bit_width(static_cast<unsigned long>(max_part)))
               : 0;
}

// Loop device numbers that exist, with their device numbers.
std::vector<std::pair<long, dev_t>> existing_loops() {
    std::vector<std::pair<long, dev_t>> loops;
    DIR* dir = opendir("/sys/block");
    if (dir == nullptr) {
        return loops;
    }
    for (dirent* entry; (entry = readdir(dir)) != nullptr;) {
        const std::string name = entry->d_name;
        dev_t dev = 0;
        if (name.starts_with("loop") && name.size() > 4 &&
            name.find_first_not_of("0123456789", 4) == std::string::npos &&
            parse_dev(read_text("/sys/block/" + name + "/dev"), dev)) {
            loops.emplace_back(std::stol(name.substr(4)), dev);
        }
    }
    closedir(dir);
    return loops;
}

void make_node(const std::string& path, mode_t mode, dev_t dev) {
    if (mknod(path.c_str(), mode, dev) != 0 || chmod(path.c_str(), mode & 07777) != 0) {
        fail("mknod " + path);
    }
}

// mountinfo's octal escapes (\040 for a blank, ...) undone.
std::string unescape(const std::string& field) {
    const auto octal = [&](std::size_t at) { return field[at] >= '0' && field[at] <= '7'; };
    std::string out;
    for (std::size_t i = 0; i < field.size(); ++i) {
        if (field[i] == '\\' && i + 3 < field.size() && octal(i + 1) && octal(i + 2) &&
            octal(i + 3)) {
            out += static_cast<char>(std::stoi(field.substr(i + 1, 3), nullptr, 8));
            i += 3;
        } else {
            out += field[i];
        }
    }
    return out;
}

struct mount_entry {
    dev_t dev;
    std::string point;
};

std::vector<mount_entry> mounts_of(const std::string& mountinfo) {
    std::vector<mount_entry> mounts;
    std::istringstream in(read_text(mountinfo));
    for (std::string line; std::getline(in, line);) {
        std::istringstream fields(line);
        std::string id, parent, dev_text, root, point;
        dev_t dev = 0;
        if (fields >> id >> parent >> dev_text >> root >> point && parse_dev(dev_text, dev)) {
            mounts.push_back({dev, unescape(point)});
        }
    }
    return mounts;
}

}  // namespace

bool mount_private_dev() noexcept {
    constexpr const char* staging = "/run/zt-dev";
    constexpr const char* pts = "/run/zt-dev/pts";
    constexpr const char* shm = "/run/zt-dev/shm";
    return mkdir(staging, 0755) == 0 &&
           mount("tmpfs", staging, "tmpfs", MS_NOSUID, "mode=0755") == 0 && mkdir(pts, 0755) == 0 &&
           mkdir(shm, 01777) == 0 &&
           (access("/dev/pts", F_OK) != 0 ||
            mount("/dev/pts", pts, nullptr, MS_BIND | MS_REC, nullptr) == 0) &&
           (access("/dev/shm", F_OK) != 0 ||
            mount("/dev/shm", shm, nullptr, MS_BIND | MS_REC, nullptr) == 0) &&
           mount(staging, "/dev", nullptr, MS_MOVE, nullptr) == 0 && rmdir(staging) == 0;
}

void populate_private_dev(const std::string& dev_dir) {
    for (const char* name :
         {"null", "zero", "full", "random", "urandom", "tty", "fuse", "loop-control"}) {
        struct stat st {};
        if (stat((std::string("/dev/") + name).c_str(), &st) == 0 && S_ISCHR(st.st_mode)) {
            make_node(dev_dir + "/" + name, st.st_mode & (S_IFMT | 07777), st.st_rdev);
        }
    }
    for (const auto& [name, target] :
         std::initializer_list<std::pair<const char*, const char*>>{{"fd", "/proc/self/fd"},
                                                                    {"stdin", "/proc/self/fd/0"},
                                                                    {"stdout", "/proc/self/fd/1"},
                                                                    {"stderr", "/proc/self/fd/2"},
                                                                    {"ptmx", "pts/ptmx"}}) {
        if (symlink(target, (dev_dir + "/" + name).c_str()) != 0) {
            fail(std::string("symlink /dev/") + name);
        }
    }
    const auto loops = existing_loops();
    long highest = -1;
    for (const auto& [number, dev] : loops) {
        highest = std::max(highest, number);
        make_node(dev_dir + "/loop" + std::to_string(number), S_IFBLK | 0660, dev);
    }
    const unsigned major_number = loop_major();
    const unsigned shift = loop_part_shift();
    for (long number = 0; number <= std::max(highest, 7L) + kLoopMargin; ++number) {
        const std::string path = dev_dir + "/loop" + std::to_string(number);
        if (access(path.c_str(), F_OK) != 0) {
            make_node(path, S_IFBLK | 0660,
                      makedev(major_number, static_cast<unsigned>(number) << shift));
        }
    }
}

std::vector<std::string> loop_mount_points(pid_t holder) {
    const unsigned major_number = loop_major();
    std::vector<std::string> points;
    for (const auto& mount : mounts_of("/proc/" + std::to_string(holder) + "/mountinfo")) {
        if (major(mount.dev) == major_number) {
            points.push_back(mount.point);
        }
    }
    return points;
}

void unmount_inside(int ns_fd, const std::vector<std::string>& points) noexcept {
    if (points.empty() || ns_fd < 0) {
        return;
    }
    const pid_t pid = fork();
    if (pid == 0) {
        // Only system calls from here: the parent may have threads.
        if (setns(ns_fd, CLONE_NEWNS) != 0) {
            _exit(1);
        }
        for (auto point = points.rbegin(); point != points.rend(); ++point) {
            if (umount2(point->c_str(), 0) != 0) {
                umount2(point->c_str(), MNT_DETACH);
            }
        }
        _exit(0);
    }
    while (pid > 0 && waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
    }
}

std::vector<long> detach_sandbox_loops(pid_t holder, const std::string& dev_dir) noexcept {
    std::vector<long> detached;
    try {
        std::set<dev_t> inside;
        for (const auto& mount : mounts_of("/proc/" + std::to_string(holder) + "/mountinfo")) {
            inside.insert(mount.dev);
        }
        for (const auto& mount : mounts_of("/proc/self/mountinfo")) {
            inside.erase(mount.dev);
        }
        for (const auto& [number, dev] : existing_loops()) {
            const std::string name = "/loop" + std::to_string(number);
            if (access(("/sys/block" + name + "/loop/backing_file").c_str(), F_OK) != 0) {
                continue;  // not attached
            }
            unique_fd fd(open((dev_dir + name).c_str(), O_RDONLY | O_CLOEXEC));
            if (!fd) {
                fd.reset(open(("/dev" + name).c_str(), O_RDONLY | O_CLOEXEC));
            }
            loop_info64 info{};
            if (fd && ioctl(fd.get(), LOOP_GET_STATUS64, &info) == 0 &&
                inside.contains(
                    static_cast<dev_t>(makedev(major(info.lo_device), minor(info.lo_device)))) &&
                ioctl(fd.get(), LOOP_CLR_FD) == 0) {
                detached.push_back(number);
            }
        }
    } catch (...) {
        // Whatever could be detached is.
    }
    return detached;
}

bool wait_detached(const std::vector<long>& numbers, std::chrono::milliseconds timeout) noexcept {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        const bool all = std::ranges::all_of(numbers, [](long number) {
            const std::string backing =
                "/sys/block/loop" + std::to_string(number) + "/loop/backing_file";
            return access(backing.c_str(), F_OK) != 0;
        });
        if (all || std::chrono::steady_clock::now() >= deadline) {
            return all;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

}  // namespace zt_testing::sandbox_dev
