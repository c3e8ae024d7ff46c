#include "session/transfer_session.h"

// The counter's check holds in every build type, so the assertion machinery is wanted even
// where NDEBUG is set.
#undef NDEBUG
#include <assert.h>

#include <limits>
#include <utility>

std::uint64_t transfer_session::id_counter = 0;

std::uint64_t transfer_session::take_id() noexcept {
    // Ids are never reused: running out stops the process, whatever the build type.
    if (id_counter >= std::numeric_limits<std::uint64_t>::max()) {
        __assert_fail(
            "id_counter < std::numeric_limits<std::uint64_t>::max() && "
            "\"Max session id number\"",
            "session/transfer_session", __LINE__, __func__);
    }
    return id_counter++;
}

transfer_session::transfer_session() : m_id(take_id()) {}

transfer_session::transfer_session(transfer_session&& other) noexcept
    : m_protocol(std::move(other.m_protocol)),
      m_id(take_id()),
      m_user_id(std::exchange(other.m_user_id, 0)),
      m_opened(std::exchange(other.m_opened, false)),
      m_accessed(std::exchange(other.m_accessed, false)),
      m_admin(std::exchange(other.m_admin, false)) {}

void transfer_session::switch_context() noexcept {
    m_opened = false;
    m_accessed = false;
    m_id = take_id();
}
