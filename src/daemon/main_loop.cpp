#include "daemon/main_loop.h"

main_loop::main_loop() : m_loop(g_main_loop_new(nullptr, FALSE)) {}

void main_loop::run() {
    if (!m_loop) {
        return;
    }
    // Hold a reference of our own: stop() may drop the member while the loop runs.
    std::unique_ptr<GMainLoop, unref> running(g_main_loop_ref(m_loop.get()));
    g_main_loop_run(running.get());
}

void main_loop::stop() {
    if (!m_loop) {
        return;
    }
    g_main_loop_quit(m_loop.get());
    m_loop.reset();
}
