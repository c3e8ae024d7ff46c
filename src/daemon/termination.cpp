#include "daemon/termination.h"

#include <glib-unix.h>

#include <csignal>

namespace {

gboolean on_terminate(gpointer data) {
    auto handler = reinterpret_cast<void (*)(int)>(data);
    handler(SIGTERM);
    return G_SOURCE_CONTINUE;
}

}  // namespace

unsigned watch_termination(void (*handler)(int)) {
    // GLib's own handler only records the signal and wakes the context; the stop sequence
    // (log, bus traffic, database write) must never run inside the signal context.
    return g_unix_signal_add(SIGTERM, on_terminate, reinterpret_cast<gpointer>(handler));
}
