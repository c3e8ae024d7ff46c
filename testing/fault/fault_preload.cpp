// libzt-fault.so: makes one chosen file operation of an unchanged program fail, or ends the
// program right there, so that tests can show what a crash or an I/O error at that point
// leaves behind. Loaded with LD_PRELOAD and set by the environment:
//
//   ZT_FAULT=OP:SUFFIX:N:ACTION
//
// OP is open, write, fsync, rename (also renameat2) or link; the call it hits is the N-th
// (from 1) of that operation on a path ending in SUFFIX (for rename and link the source path;
// for write and fsync the path the descriptor was opened with). ACTION is "kill" (SIGKILL instead
// of the call), "kill-after" (the call, then SIGKILL), "kill-partial" (write only: half of the
// bytes, then SIGKILL) or an errno name (EIO, ENOSPC, EROFS, EDQUOT: the call fails with it
// and does nothing). Every other call goes straight to the C library.

#include <dlfcn.h>
#include <fcntl.h>
#include <signal.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>

#define ZT_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

enum class action { none, kill_before, kill_after, kill_partial, fail };

struct fault {
    char op[16] = {};
    char suffix[256] = {};
    long nth = 0;
    action what = action::none;
    int error = 0;
};

int errno_of(const char* name) {
    static const struct {
        const char* name;
        int value;
    } known[] = {{"EIO", EIO}, {"ENOSPC", ENOSPC}, {"EROFS", EROFS}, {"EDQUOT", EDQUOT}};
    for (const auto& k : known) {
        if (strcmp(name, k.name) == 0) {
            return k.value;
        }
    }
    return 0;
}

// The fault asked for; none when ZT_FAULT is absent or malformed.
const fault& configured() {
    static const fault f = [] {
        fault out;
        const char* spec = getenv("ZT_FAULT");
        char what[32] = {};
        if (spec == nullptr ||
            sscanf(spec, "%15[^:]:%255[^:]:%ld:%31s", out.op, out.suffix, &out.nth, what) != 4 ||
            out.nth < 1) {
            return fault{};
        }
        if (strcmp(what, "kill") == 0) {
            out.what = action::kill_before;
        } else if (strcmp(what, "kill-after") == 0) {
            out.what = action::kill_after;
        } else if (strcmp(what, "kill-partial") == 0) {
            out.what = action::kill_partial;
        } else if ((out.error = errno_of(what)) != 0) {
            out.what = action::fail;
        }
        return out;
    }();
    return f;
}

std::atomic<long> g_seen{0};

bool ends_with(const char* path, const char* suffix) {
    const size_t n = strlen(path);
    const size_t m = strlen(suffix);
    return n >= m && strcmp(path + n - m, suffix) == 0;
}

// The action for this call of op on path: none unless it is the chosen one.
action hit(const char* op, const char* path) {
    const fault& f = configured();
    if (f.what == action::none || strcmp(op, f.op) != 0 || path == nullptr ||
        !ends_with(path, f.suffix)) {
        return action::none;
    }
    return g_seen.fetch_add(1) + 1 == f.nth ? f.what : action::none;
}

action hit_fd(const char* op, int fd) {
    if (configured().what == action::none || strcmp(op, configured().op) != 0) {
        return action::none;
    }
    char link[64];
    char path[4096];
    snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    const ssize_t n = readlink(link, path, sizeof path - 1);
    if (n <= 0) {
        return action::none;
    }
    path[n] = '\0';
    return hit(op, path);
}

[[noreturn]] void die() {
    raise(SIGKILL);
    _exit(137);
}

// Runs the fault before the call: true when the call must not happen (the caller returns
// -1 with errno set).
bool before(action a) {
    if (a == action::kill_before) {
        die();
    }
    if (a == action::fail) {
        errno = configured().error;
        return true;
    }
    return false;
}

template <typename F>
F next(const char* name) {
    return reinterpret_cast<F>(dlsym(RTLD_NEXT, name));
}

}  // namespace

ZT_EXPORT int open(const char* path, int flags, ...) {
    static const auto real = next<int (*)(const char*, int, ...)>("open");
    mode_t mode = 0;
    if ((flags & (O_CREAT | O_TMPFILE)) != 0) {
        va_list args;
        va_start(args, flags);
        mode = static_cast<mode_t>(va_arg(args, int));
        va_end(args);
    }
    const action a = hit("open", path);
    if (before(a)) {
        return -1;
    }
    const int fd = real(path, flags, mode);
    if (a == action::kill_after) {
        die();
    }
    return fd;
}

ZT_EXPORT ssize_t write(int fd, const void* data, size_t size) {
    static const auto real = next<ssize_t (*)(int, const void*, size_t)>("write");
    const action a = hit_fd("write", fd);
    if (before(a)) {
        return -1;
    }
    if (a == action::kill_partial) {
        (void)real(fd, data, size / 2);
        die();
    }
    const ssize_t n = real(fd, data, size);
    if (a == action::kill_after) {
        die();
    }
    return n;
}

ZT_EXPORT int fsync(int fd) {
    static const auto real = next<int (*)(int)>("fsync");
    const action a = hit_fd("fsync", fd);
    if (before(a)) {
        return -1;
    }
    const int r = real(fd);
    if (a == action::kill_after) {
        die();
    }
    return r;
}

ZT_EXPORT int rename(const char* from, const char* to) {
    static const auto real = next<int (*)(const char*, const char*)>("rename");
    const action a = hit("rename", from);
    if (before(a)) {
        return -1;
    }
    const int r = real(from, to);
    if (a == action::kill_after) {
        die();
    }
    return r;
}

// Counted as a rename of its source path.
ZT_EXPORT int renameat2(int from_dir, const char* from, int to_dir, const char* to,
                        unsigned int flags) {
    static const auto real =
        next<int (*)(int, const char*, int, const char*, unsigned int)>("renameat2");
    const action a = hit("rename", from);
    if (before(a)) {
        return -1;
    }
    const int r = real(from_dir, from, to_dir, to, flags);
    if (a == action::kill_after) {
        die();
    }
    return r;
}

ZT_EXPORT int link(const char* from, const char* to) {
    static const auto real = next<int (*)(const char*, const char*)>("link");
    const action a = hit("link", from);
    if (before(a)) {
        return -1;
    }
    const int r = real(from, to);
    if (a == action::kill_after) {
        die();
    }
    return r;
}
