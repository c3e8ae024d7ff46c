// libzt-cryx-preload.so: lets an unchanged program see the stand-in driver as the kernel
// module it stands in for. Loaded with LD_PRELOAD, it answers opens of "/proc/modules" with
// a memory file holding the module line the sandbox chose, opens of "/sys/block/cryxN/dev"
// with the driver's file for that device, and turns an open of "/dev/cryx-control" into a
// connection to the driver's control socket, on which the add and remove requests are
// forwarded to the driver. Everything else goes straight to the C library.

#include <dlfcn.h>
#include <fcntl.h>
#include <stdarg.h>
#include <stdio.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdint>

#include "testing/cryx/cryx_control.h"

#define ZT_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

using namespace zt_cryx;

// The C library's own entry points, looked up once.
template <typename F>
F next(const char* name) {
    return reinterpret_cast<F>(dlsym(RTLD_NEXT, name));
}

using open_fn = int (*)(const char*, int, ...);
using openat_fn = int (*)(int, const char*, int, ...);
using open2_fn = int (*)(const char*, int);
using openat2_fn = int (*)(int, const char*, int);
using fopen_fn = FILE* (*)(const char*, const char*);
using ioctl_fn = int (*)(int, unsigned long, ...);
using close_fn = int (*)(int);

open_fn real_open() {
    static const auto f = next<open_fn>("open");
    return f;
}
close_fn real_close() {
    static const auto f = next<close_fn>("close");
    return f;
}

// Descriptors that are connections to the driver, by the inode of their socket (0: none).
// The inode guards against a descriptor closed behind this library's back and reused.
constexpr int kTracked = 1 << 16;
std::atomic<std::uint64_t> g_control[kTracked];

bool is_control(int fd) {
    if (fd < 0 || fd >= kTracked) {
        return false;
    }
    const std::uint64_t inode = g_control[fd].load();
    struct stat st {};
    return inode != 0 && fstat(fd, &st) == 0 && S_ISSOCK(st.st_mode) && st.st_ino == inode;
}

void forget(int fd) {
    if (fd >= 0 && fd < kTracked) {
        g_control[fd].store(0);
    }
}

enum class module_state { absent, loading, live };

module_state read_module_state() {
    char word[16] = {};
    const int fd = real_open()(module_state_file, O_RDONLY | O_CLOEXEC);
    if (fd >= 0) {
        (void)!read(fd, word, sizeof word - 1);
        real_close()(fd);
    }
    if (strncmp(word, "live", 4) == 0) {
        return module_state::live;
    }
    return strncmp(word, "loading", 7) == 0 ? module_state::loading : module_state::absent;
}

// A read-only memory file with the module table: a neighbour whose name starts like the
// driver's, and the driver's own line unless it is absent.
int open_modules(int flags) {
    if ((flags & O_ACCMODE) != O_RDONLY) {
        errno = EACCES;
        return -1;
    }
    char text[256];
    const module_state state = read_module_state();
    snprintf(text, sizeof text, "cryxfs 20480 0 - Live 0x0000000000000000\n%s",
             state == module_state::live      ? "cryx 49152 0 - Live 0x0000000000000000 (OE)\n"
             : state == module_state::loading ? "cryx 49152 1 - Loading 0x0000000000000000 (OE)\n"
                                              : "");
    const int memory = memfd_create("modules", MFD_CLOEXEC);
    if (memory < 0) {
        return -1;
    }
    const size_t size = strlen(text);
    int fd = -1;
    if (write(memory, text, size) == static_cast<ssize_t>(size)) {
        // Reopened read-only, as the real table opens.
        char path[64];
        snprintf(path, sizeof path, "/proc/self/fd/%d", memory);
        fd = real_open()(path, O_RDONLY | (flags & O_CLOEXEC));
    }
    const int saved = errno;
    real_close()(memory);
    errno = saved;
    return fd;
}

// The driver's connection stands for the control node; it exists while the module does.
int open_control(int flags) {
    if (read_module_state() == module_state::absent) {
        errno = ENOENT;
        return -1;
    }
    const int fd =
        socket(AF_UNIX, SOCK_SEQPACKET | ((flags & O_CLOEXEC) != 0 ? SOCK_CLOEXEC : 0), 0);
    if (fd < 0) {
        return -1;
    }
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    snprintf(address.sun_path, sizeof address.sun_path, "%s", control_socket);
    struct stat st {};
    int error = 0;
    if (fd >= kTracked) {
        error = EMFILE;  // beyond what this library keeps track of
    } else if (connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
               fstat(fd, &st) != 0) {
        // A driver that is gone leaves a node without a device behind it.
        error = errno == ECONNREFUSED ? ENODEV : errno;
    }
    if (error != 0) {
        real_close()(fd);
        errno = error;
        return -1;
    }
    g_control[fd].store(st.st_ino);
    return fd;
}

// Where "/sys/block/cryxN/dev" is kept: in out, or false for any other path.
bool sys_block_file(const char* path, char (&out)[128]) {
    const size_t prefix = strlen(sys_block_prefix);
    if (strncmp(path, sys_block_prefix, prefix) != 0) {
        return false;
    }
    const char* digits = path + prefix;
    const size_t count = strspn(digits, "0123456789");
    if (count == 0 || count > 10 || strcmp(digits + count, "/dev") != 0) {
        return false;
    }
    snprintf(out, sizeof out, "%s/cryx%.*s/dev", block_dir, static_cast<int>(count), digits);
    return true;
}

// The descriptor for one of the driver's paths (-1 with errno), or -2 for any other path.
int open_special(const char* path, int flags) {
    if (path == nullptr) {
        return -2;
    }
    if (strcmp(path, modules_file) == 0) {
        return open_modules(flags);
    }
    if (strcmp(path, control_node) == 0) {
        return open_control(flags);
    }
    char file[128];
    if (sys_block_file(path, file)) {
        return real_open()(file, flags & (O_ACCMODE | O_CLOEXEC | O_NOFOLLOW));
    }
    return -2;
}

bool exchange(int fd, const control_request& request, control_reply& reply) {
    if (send(fd, &request, sizeof request, MSG_NOSIGNAL) != static_cast<ssize_t>(sizeof request)) {
        return false;
    }
    const ssize_t got = recv(fd, &reply, sizeof reply, MSG_TRUNC);
    if (got != static_cast<ssize_t>(sizeof reply)) {
        errno = got < 0 ? errno : EIO;
        return false;
    }
    return true;
}

// The driver's answer to a request on the control node, as the node's ioctl answers.
int forward(int fd, unsigned long request, void* argument) {
    control_request message{};
    if (request == add_request) {
        message.op = control_op::add;
        memcpy(message.record, argument, add_record::size);
    } else if (request == remove_request) {
        message.op = control_op::remove;
        message.number = static_cast<std::int32_t>(reinterpret_cast<std::intptr_t>(argument));
    } else {
        errno = ENOTTY;
        return -1;
    }
    control_reply reply{};
    const bool sent = exchange(fd, message, reply);
    const int saved = errno;
    explicit_bzero(&message, sizeof message);
    if (!sent) {
        errno = saved;
        return -1;
    }
    if (reply.result < 0) {
        errno = reply.error;
        return -1;
    }
    if (request == add_request) {
        memcpy(static_cast<unsigned char*>(argument) + add_record::number, &reply.number,
               sizeof reply.number);
    }
    return reply.result;
}

bool wants_mode(int flags) {
    return (flags & O_CREAT) != 0 || (flags & O_TMPFILE) == O_TMPFILE;
}

}  // namespace

ZT_EXPORT int open(const char* path, int flags, ...) {
    mode_t mode = 0;
    if (wants_mode(flags)) {
        va_list args;
        va_start(args, flags);
        mode = va_arg(args, mode_t);
        va_end(args);
    }
    const int fd = open_special(path, flags);
    return fd != -2 ? fd : real_open()(path, flags, mode);
}

ZT_EXPORT int open64(const char* path, int flags, ...) {
    mode_t mode = 0;
    if (wants_mode(flags)) {
        va_list args;
        va_start(args, flags);
        mode = va_arg(args, mode_t);
        va_end(args);
    }
    static const auto real = next<open_fn>("open64");
    const int fd = open_special(path, flags);
    return fd != -2 ? fd : real(path, flags, mode);
}

ZT_EXPORT int openat(int dir, const char* path, int flags, ...) {
    mode_t mode = 0;
    if (wants_mode(flags)) {
        va_list args;
        va_start(args, flags);
        mode = va_arg(args, mode_t);
        va_end(args);
    }
    static const auto real = next<openat_fn>("openat");
    const int fd = open_special(path, flags);
    return fd != -2 ? fd : real(dir, path, flags, mode);
}

ZT_EXPORT int openat64(int dir, const char* path, int flags, ...) {
    mode_t mode = 0;
    if (wants_mode(flags)) {
        va_list args;
        va_start(args, flags);
        mode = va_arg(args, mode_t);
        va_end(args);
    }
    static const auto real = next<openat_fn>("openat64");
    const int fd = open_special(path, flags);
    return fd != -2 ? fd : real(dir, path, flags, mode);
}

// The fortified entry points that _FORTIFY_SOURCE builds call instead.
ZT_EXPORT int __open_2(const char* path, int flags) {
    static const auto real = next<open2_fn>("__open_2");
    const int fd = open_special(path, flags);
    return fd != -2 ? fd : real(path, flags);
}

ZT_EXPORT int __open64_2(const char* path, int flags) {
    static const auto real = next<open2_fn>("__open64_2");
    const int fd = open_special(path, flags);
    return fd != -2 ? fd : real(path, flags);
}

ZT_EXPORT int __openat_2(int dir, const char* path, int flags) {
    static const auto real = next<openat2_fn>("__openat_2");
    const int fd = open_special(path, flags);
    return fd != -2 ? fd : real(dir, path, flags);
}

ZT_EXPORT int __openat64_2(int dir, const char* path, int flags) {
    static const auto real = next<openat2_fn>("__openat64_2");
    const int fd = open_special(path, flags);
    return fd != -2 ? fd : real(dir, path, flags);
}

namespace {

// fopen of the table and of a device-number file; the control node is not a stream.
FILE* fopen_special(const char* path, const char* mode, fopen_fn real) {
    char file[128];
    if (path != nullptr && mode != nullptr && strcmp(path, modules_file) == 0) {
        if (mode[0] != 'r' || strchr(mode, '+') != nullptr) {
            errno = EACCES;
            return nullptr;
        }
        const int fd = open_modules(O_RDONLY | (strchr(mode, 'e') != nullptr ? O_CLOEXEC : 0));
        FILE* stream = fd >= 0 ? fdopen(fd, "r") : nullptr;
        if (fd >= 0 && stream == nullptr) {
            real_close()(fd);
        }
        return stream;
    }
    if (path != nullptr && sys_block_file(path, file)) {
        return real(file, mode);
    }
    return real(path, mode);
}

}  // namespace

ZT_EXPORT FILE* fopen(const char* path, const char* mode) {
    static const auto real = next<fopen_fn>("fopen");
    return fopen_special(path, mode, real);
}

ZT_EXPORT FILE* fopen64(const char* path, const char* mode) {
    static const auto real = next<fopen_fn>("fopen64");
    return fopen_special(path, mode, real);
}

ZT_EXPORT int ioctl(int fd, unsigned long request, ...) {
    va_list args;
    va_start(args, request);
    void* argument = va_arg(args, void*);
    va_end(args);
    if (is_control(fd)) {
        return forward(fd, request, argument);
    }
    static const auto real = next<ioctl_fn>("ioctl");
    return real(fd, request, argument);
}

ZT_EXPORT int close(int fd) {
    forget(fd);
    return real_close()(fd);
}
