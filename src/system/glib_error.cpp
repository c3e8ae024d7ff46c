#include "system/glib_error.h"

#include <cerrno>
#include <utility>

namespace sys {

namespace {

constexpr std::pair<int, int> kSpawnErrors[] = {
    {G_SPAWN_ERROR_FORK, ENOMEM},     {G_SPAWN_ERROR_READ, EIO},
    {G_SPAWN_ERROR_CHDIR, ENOENT},    {G_SPAWN_ERROR_ACCES, EACCES},
    {G_SPAWN_ERROR_PERM, EPERM},      {G_SPAWN_ERROR_TOO_BIG, E2BIG},
    {G_SPAWN_ERROR_NOEXEC, ENOEXEC},  {G_SPAWN_ERROR_NAMETOOLONG, ENAMETOOLONG},
    {G_SPAWN_ERROR_NOENT, ENOENT},    {G_SPAWN_ERROR_NOMEM, ENOMEM},
    {G_SPAWN_ERROR_NOTDIR, ENOTDIR},  {G_SPAWN_ERROR_LOOP, ELOOP},
    {G_SPAWN_ERROR_TXTBUSY, ETXTBSY}, {G_SPAWN_ERROR_IO, EIO},
    {G_SPAWN_ERROR_NFILE, ENFILE},    {G_SPAWN_ERROR_MFILE, EMFILE},
    {G_SPAWN_ERROR_INVAL, EINVAL},    {G_SPAWN_ERROR_ISDIR, EISDIR},
    {G_SPAWN_ERROR_LIBBAD, ELIBBAD},
};

constexpr std::pair<int, int> kFileErrors[] = {
    {G_FILE_ERROR_EXIST, EEXIST}, {G_FILE_ERROR_ISDIR, EISDIR},
    {G_FILE_ERROR_ACCES, EACCES}, {G_FILE_ERROR_NAMETOOLONG, ENAMETOOLONG},
    {G_FILE_ERROR_NOENT, ENOENT}, {G_FILE_ERROR_NOTDIR, ENOTDIR},
    {G_FILE_ERROR_NXIO, ENXIO},   {G_FILE_ERROR_NODEV, ENODEV},
    {G_FILE_ERROR_ROFS, EROFS},   {G_FILE_ERROR_TXTBSY, ETXTBSY},
    {G_FILE_ERROR_FAULT, EFAULT}, {G_FILE_ERROR_LOOP, ELOOP},
    {G_FILE_ERROR_NOSPC, ENOSPC}, {G_FILE_ERROR_NOMEM, ENOMEM},
    {G_FILE_ERROR_MFILE, EMFILE}, {G_FILE_ERROR_NFILE, ENFILE},
    {G_FILE_ERROR_BADF, EBADF},   {G_FILE_ERROR_INVAL, EINVAL},
    {G_FILE_ERROR_PIPE, EPIPE},   {G_FILE_ERROR_AGAIN, EAGAIN},
    {G_FILE_ERROR_INTR, EINTR},   {G_FILE_ERROR_IO, EIO},
    {G_FILE_ERROR_PERM, EPERM},   {G_FILE_ERROR_NOSYS, ENOSYS},
};

template <std::size_t N>
int lookup(const std::pair<int, int> (&table)[N], int code) noexcept {
    for (const auto& [glib_code, err] : table) {
        if (glib_code == code) {
            return err;
        }
    }
    return EIO;
}

}  // namespace

int glib_errno(const GError* error) noexcept {
    if (error == nullptr) {
        return EIO;
    }
    if (error->domain == G_SPAWN_ERROR) {
        return lookup(kSpawnErrors, error->code);
    }
    if (error->domain == G_FILE_ERROR) {
        return lookup(kFileErrors, error->code);
    }
    return EIO;
}

}  // namespace sys
