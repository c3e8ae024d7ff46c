// zt-cryx-ctl: drives the encryption driver through its control node exactly as the daemon
// does (open "/dev/cryx-control" read-write, one ioctl, close), for tests and by hand. Under
// the stand-in it runs with the preload library, which forwards the requests to zt-cryxd.
//
//   zt-cryx-ctl add MANAGED_DEVICE [--key-file FILE] [--number N] [--mode M]
//   zt-cryx-ctl remove N
//
// add sends the 32 bytes of FILE as both keys (without --key-file: a record without keys)
// and prints the number of the device made. A refused request prints the reason and exits
// with its errno value; a bad command line exits with 255.

#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "testing/cryx/cryx_control.h"

namespace {

using namespace zt_cryx;

constexpr int kUsage = 255;

int usage() {
    std::fprintf(stderr,
                 "usage: zt-cryx-ctl add MANAGED_DEVICE [--key-file FILE] [--number N] "
                 "[--mode M]\n"
                 "       zt-cryx-ctl remove N\n");
    return kUsage;
}

int failed(const char* what) {
    const int error = errno;
    std::fprintf(stderr, "zt-cryx-ctl: %s: %s\n", what, std::strerror(error));
    return error > 0 && error < kUsage ? error : 1;
}

bool read_key(const char* path, unsigned char (&key)[add_record::key_size]) {
    const int fd = open(path, O_RDONLY | O_CLOEXEC);
    const bool ok = fd >= 0 && read(fd, key, sizeof key) == static_cast<ssize_t>(sizeof key);
    if (fd >= 0) {
        close(fd);
    }
    return ok;
}

bool parse_int(const char* text, long& out) {
    char* end = nullptr;
    errno = 0;
    out = std::strtol(text, &end, 10);
    return errno == 0 && end != text && *end == '\0';
}

int add(const std::vector<std::string>& args) {
    if (args.empty()) {
        return usage();
    }
    unsigned char record[add_record::size] = {};
    std::int32_t number = -1;
    std::int32_t mode = add_record::expected_mode;
    unsigned char key[add_record::key_size] = {};
    bool keyed = false;
    for (std::size_t i = 1; i < args.size(); i += 2) {
        long value = 0;
        if (i + 1 >= args.size()) {
            return usage();
        }
        if (args[i] == "--key-file") {
            if (!read_key(args[i + 1].c_str(), key)) {
                return failed(("key file " + args[i + 1]).c_str());
            }
            keyed = true;
        } else if ((args[i] == "--number" || args[i] == "--mode") &&
                   parse_int(args[i + 1].c_str(), value)) {
            (args[i] == "--number" ? number : mode) = static_cast<std::int32_t>(value);
        } else {
            return usage();
        }
    }
    std::memcpy(record + add_record::number, &number, sizeof number);
    std::memcpy(record + add_record::managed_device, args[0].data(),
                std::min<std::size_t>(args[0].size(), 64));
    if (keyed) {
        record[add_record::keys_flag] = 1;
        std::memcpy(record + add_record::mode, &mode, sizeof mode);
        std::memcpy(record + add_record::second_key, key, sizeof key);
        std::memcpy(record + add_record::first_key, key, sizeof key);
    }
    explicit_bzero(key, sizeof key);
    const int fd = open(control_node, O_RDWR | O_CLOEXEC);
    if (fd < 0) {
        return failed(control_node);
    }
    const int result = ioctl(fd, add_request, record);
    const int error = errno;
    explicit_bzero(record + add_record::second_key, 2 * add_record::key_size);
    close(fd);
    if (result < 0) {
        errno = error;
        return failed("add");
    }
    std::memcpy(&number, record + add_record::number, sizeof number);
    std::printf("%d\n", number);
    return 0;
}

int remove(const std::vector<std::string>& args) {
    long number = 0;
    if (args.size() != 1 || !parse_int(args[0].c_str(), number)) {
        return usage();
    }
    const int fd = open(control_node, O_RDWR | O_CLOEXEC);
    if (fd < 0) {
        return failed(control_node);
    }
    const int result = ioctl(fd, remove_request, number);
    const int error = errno;
    close(fd);
    if (result < 0) {
        errno = error;
        return failed("remove");
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        return usage();
    }
    const std::string command = argv[1];
    const std::vector<std::string> args(argv + 2, argv + argc);
    if (command == "add") {
        return add(args);
    }
    return command == "remove" ? remove(args) : usage();
}
