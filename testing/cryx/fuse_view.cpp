#define FUSE_USE_VERSION 314
#include "testing/cryx/fuse_view.h"

#include <fcntl.h>
#include <fuse3/fuse_lowlevel.h>
#include <linux/falloc.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "system/unique_fd.h"
#include "testing/cryx/sector_store.h"

namespace zt_cryx {

namespace {

constexpr std::size_t kMaxTransfer = 1 << 20;

}  // namespace

struct fuse_view::state {
    std::unique_ptr<sector_store> store;  // one thread serves every request
    fuse_session* session = nullptr;
    os::unique_fd stop_fd;
    std::thread server;

    void serve();
};

namespace {

fuse_view::state& view_of(fuse_req_t req) {
    return *static_cast<fuse_view::state*>(fuse_req_userdata(req));
}

struct stat attributes(const fuse_view::state& view) {
    struct stat st {};
    st.st_ino = FUSE_ROOT_ID;
    st.st_mode = S_IFREG | 0600;
    st.st_nlink = 1;
    st.st_size = static_cast<off_t>(view.store->size());
    st.st_blksize = 4096;
    st.st_blocks = static_cast<blkcnt_t>(view.store->size() / 512);
    return st;
}

void on_init(void*, fuse_conn_info* conn) {
    conn->max_write = kMaxTransfer;
    conn->want &= ~(FUSE_CAP_SPLICE_READ | FUSE_CAP_SPLICE_WRITE | FUSE_CAP_SPLICE_MOVE);
}

void on_getattr(fuse_req_t req, fuse_ino_t ino, fuse_file_info*) {
    if (ino != FUSE_ROOT_ID) {
        fuse_reply_err(req, ENOENT);
        return;
    }
    const struct stat st = attributes(view_of(req));
    fuse_reply_attr(req, &st, 3600.0);
}

void on_setattr(fuse_req_t req, fuse_ino_t ino, struct stat* attr, int to_set, fuse_file_info*) {
    const auto& view = view_of(req);
    // The view is as large as its device; only what changes nothing is accepted.
    if (ino != FUSE_ROOT_ID ||
        (to_set & (FUSE_SET_ATTR_MODE | FUSE_SET_ATTR_UID | FUSE_SET_ATTR_GID)) != 0 ||
        ((to_set & FUSE_SET_ATTR_SIZE) != 0 &&
         static_cast<std::uint64_t>(attr->st_size) != view.store->size())) {
        fuse_reply_err(req, EPERM);
        return;
    }
    const struct stat st = attributes(view);
    fuse_reply_attr(req, &st, 3600.0);
}

void on_open(fuse_req_t req, fuse_ino_t ino, fuse_file_info* fi) {
    if (ino != FUSE_ROOT_ID) {
        fuse_reply_err(req, ENOENT);
        return;
    }
    // The loop device on top keeps its own cache; a second one here would only go stale.
    fi->direct_io = 1;
    fi->keep_cache = 0;
    fuse_reply_open(req, fi);
}

void on_read(fuse_req_t req, fuse_ino_t, size_t size, off_t off, fuse_file_info*) {
    if (off < 0) {
        fuse_reply_err(req, EINVAL);
        return;
    }
    const unsigned char* data = nullptr;
    const ssize_t n = view_of(req).store->read(static_cast<std::uint64_t>(off), size, &data);
    n < 0 ? (void)fuse_reply_err(req, static_cast<int>(-n))
          : (void)fuse_reply_buf(req, reinterpret_cast<const char*>(data),
                                 static_cast<std::size_t>(n));
}

void on_write(fuse_req_t req, fuse_ino_t, const char* buf, size_t size, off_t off,
              fuse_file_info*) {
    if (off < 0) {
        fuse_reply_err(req, EINVAL);
        return;
    }
    const ssize_t n = view_of(req).store->write(static_cast<std::uint64_t>(off),
                                                reinterpret_cast<const unsigned char*>(buf), size);
    n < 0 ? (void)fuse_reply_err(req, static_cast<int>(-n))
          : (void)fuse_reply_write(req, static_cast<std::size_t>(n));
}

void on_flush(fuse_req_t req, fuse_ino_t, fuse_file_info*) {
    fuse_reply_err(req, 0);
}

void on_release(fuse_req_t req, fuse_ino_t, fuse_file_info*) {
    fuse_reply_err(req, 0);
}

void on_fsync(fuse_req_t req, fuse_ino_t, int, fuse_file_info*) {
    fuse_reply_err(req, fdatasync(view_of(req).store->fd()) == 0 ? 0 : errno);
}

// The loop device turns both discards and zeroing into punched holes: either way the range
// must read back as zeros afterwards.
void on_fallocate(fuse_req_t req, fuse_ino_t, int mode, off_t offset, off_t length,
                  fuse_file_info*) {
    auto& view = view_of(req);
    const int zeroing = FALLOC_FL_PUNCH_HOLE | FALLOC_FL_ZERO_RANGE;
    const bool punch_growing =
        (mode & FALLOC_FL_PUNCH_HOLE) != 0 && (mode & FALLOC_FL_KEEP_SIZE) == 0;
    if (offset < 0 || length <= 0 || (mode & ~(zeroing | FALLOC_FL_KEEP_SIZE)) != 0 ||
        punch_growing) {
        fuse_reply_err(req, offset < 0 || length <= 0 ? EINVAL : EOPNOTSUPP);
        return;
    }
    const auto start = static_cast<std::uint64_t>(offset);
    const std::uint64_t end =
        std::min(start + static_cast<std::uint64_t>(length), view.store->size());
    if ((mode & zeroing) == 0) {
        // Every byte of the view exists already; it cannot grow.
        fuse_reply_err(req, start + static_cast<std::uint64_t>(length) <= view.store->size() ||
                                    (mode & FALLOC_FL_KEEP_SIZE) != 0
                                ? 0
                                : ENOSPC);
        return;
    }
    for (std::uint64_t at = start; at < end;) {
        const auto chunk =
            static_cast<std::size_t>(std::min<std::uint64_t>(end - at, kMaxTransfer));
        const ssize_t n = view.store->write(at, nullptr, chunk);
        if (n <= 0) {
            fuse_reply_err(req, n < 0 ? static_cast<int>(-n) : EIO);
            return;
        }
        at += static_cast<std::uint64_t>(n);
    }
    fuse_reply_err(req, 0);
}

constexpr fuse_lowlevel_ops kOperations = [] {
    fuse_lowlevel_ops ops{};
    ops.init = on_init;
    ops.getattr = on_getattr;
    ops.setattr = on_setattr;
    ops.open = on_open;
    ops.read = on_read;
    ops.write = on_write;
    ops.flush = on_flush;
    ops.release = on_release;
    ops.fsync = on_fsync;
    ops.fallocate = on_fallocate;
    return ops;
}();

}  // namespace

void fuse_view::state::serve() {
    const int fuse_fd = fuse_session_fd(session);
    fuse_buf buf{};
    for (;;) {
        pollfd fds[2] = {{fuse_fd, POLLIN, 0}, {stop_fd.get(), POLLIN, 0}};
        if (poll(fds, 2, -1) < 0) {
            if (errno == EINTR) {
                continue;
            }
            break;
        }
        if (fds[1].revents != 0) {
            break;
        }
        const int n = fuse_session_receive_buf(session, &buf);
        if (n == -EINTR || n == -EAGAIN) {
            continue;
        }
        if (n <= 0) {
            break;  // unmounted or the connection was aborted
        }
        fuse_session_process_buf(session, &buf);
    }
    std::free(buf.mem);
}

std::unique_ptr<fuse_view> fuse_view::start(const std::string& mount_point, int managed_fd,
                                            std::uint64_t size, sector_cipher cipher,
                                            std::error_code& ec) {
    auto s = std::make_unique<state>();
    s->store = std::make_unique<sector_store>(managed_fd, size, std::move(cipher));
    s->stop_fd.reset(eventfd(0, EFD_CLOEXEC));
    if (!s->stop_fd) {
        ec.assign(errno, std::generic_category());
        return nullptr;
    }
    char name[] = "zt-cryxd";
    char opt[] = "-o";
    char options[] = "fsname=zt-cryx,subtype=cryx";
    char* argv[] = {name, opt, options, nullptr};
    fuse_args args = FUSE_ARGS_INIT(3, argv);
    s->session = fuse_session_new(&args, &kOperations, sizeof kOperations, s.get());
    fuse_opt_free_args(&args);  // what option parsing left of them
    if (s->session == nullptr) {
        ec = std::make_error_code(std::errc::io_error);
        return nullptr;
    }
    if (fuse_session_mount(s->session, mount_point.c_str()) != 0) {
        fuse_session_destroy(s->session);
        ec = std::make_error_code(std::errc::io_error);
        return nullptr;
    }
    // A request that goes away between poll and read must not block the server.
    const int fuse_fd = fuse_session_fd(s->session);
    fcntl(fuse_fd, F_SETFL, fcntl(fuse_fd, F_GETFL) | O_NONBLOCK);
    state* raw = s.get();
    s->server = std::thread([raw] { raw->serve(); });
    ec.clear();
    return std::unique_ptr<fuse_view>(new fuse_view(std::move(s)));
}

fuse_view::fuse_view(std::unique_ptr<state> s) : m_state(std::move(s)) {}

fuse_view::~fuse_view() {
    const std::uint64_t one = 1;
    (void)!::write(m_state->stop_fd.get(), &one, sizeof one);
    m_state->server.join();
    fuse_session_unmount(m_state->session);
    fuse_session_destroy(m_state->session);
}

}  // namespace zt_cryx
