#pragma once

#include <glib.h>

namespace sys {

// GLib reports spawn and file failures with codes of its own enumerations, which are not
// errno values. Returns the errno a G_SPAWN_ERROR or G_FILE_ERROR stands for, so that the
// message read from it names the real cause; other domains, codes without an errno
// counterpart and a null error give EIO.
int glib_errno(const GError* error) noexcept;

}  // namespace sys
