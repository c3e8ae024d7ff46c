#pragma once

#include <type_traits>
#include <utility>

namespace foundation {

// Calls the stored callable when the guard leaves its scope; request handlers set one up
// first so that exactly one reply goes out on every return path.
template <typename F>
class Defer {
  public:
    explicit Defer(F&& f) noexcept(std::is_nothrow_move_constructible_v<F>) : m_f(std::move(f)) {}
    explicit Defer(const F& f) : m_f(f) {}

    Defer(Defer&& other) noexcept(std::is_nothrow_move_constructible_v<F>)
        : m_f(std::move(other.m_f)), m_active(std::exchange(other.m_active, false)) {}
    Defer(const Defer&) = delete;
    Defer& operator=(const Defer&) = delete;
    Defer& operator=(Defer&&) = delete;

    ~Defer() {
        if (m_active) {
            m_f();
        }
    }

    // The callable will not be called.
    void dismiss() noexcept { m_active = false; }

  private:
    F m_f;
    bool m_active = true;
};

template <typename F>
Defer<std::decay_t<F>> make_deferred(F&& f) {
    return Defer<std::decay_t<F>>(std::forward<F>(f));
}

}  // namespace foundation
