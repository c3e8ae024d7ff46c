#pragma once

// Carries SIGTERM from the signal context to the default main context: handler(SIGTERM)
// runs there, between dispatches. A SIGTERM that arrives before any loop runs is kept and
// handled as soon as one does. The process is no longer ended by SIGTERM. Returns the
// GLib source id (for g_source_remove).
unsigned watch_termination(void (*handler)(int));
