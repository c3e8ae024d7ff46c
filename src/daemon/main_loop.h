#pragma once

#include <glib.h>

#include <memory>

// The daemon's GLib main loop on the default main context. Stopping is final: a stopped
// loop neither runs again nor reacts to a second stop.
class main_loop {
  public:
    main_loop();

    // Runs the loop until stop(); returns at once when the loop was already stopped.
    void run();

    // Quits the loop (also from inside a dispatch) and releases it. Harmless when repeated.
    void stop();

    // True until stop().
    explicit operator bool() const noexcept { return static_cast<bool>(m_loop); }

  private:
    struct unref {
        void operator()(GMainLoop* loop) const noexcept { g_main_loop_unref(loop); }
    };
    std::unique_ptr<GMainLoop, unref> m_loop;
};
