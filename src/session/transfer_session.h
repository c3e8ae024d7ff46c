#pragma once

#include <cstdint>

#include "session/transfer_server.h"
#include "session/transfer_session_safe.h"

// The daemon's record of one client connection: its protocol engine and what the handlers
// know of the caller. Created closed, without access, as a user with user id 0.
class transfer_session final : public transfer_session_safe {
  public:
    // Takes a fresh id.
    transfer_session();
    // Takes over other's engine, user id and flags (clearing other's) and a fresh id.
    transfer_session(transfer_session&& other) noexcept;
    transfer_session(const transfer_session&) = delete;
    transfer_session& operator=(const transfer_session&) = delete;
    transfer_session& operator=(transfer_session&&) = delete;
    ~transfer_session() override = default;

    transfer_server& protocol() override { return m_protocol; }
    bool is_opened() const override { return m_opened; }
    bool is_accessed() const override { return m_accessed; }
    std::uint64_t id() const override { return m_id; }
    std::uint64_t user_id() const override { return m_user_id; }
    bool is_admin() const override { return m_admin; }
    bool is_user() const override { return !m_admin; }

    void set_access(bool accessed) noexcept { m_accessed = accessed; }
    void user_id(std::uint64_t id) noexcept { m_user_id = id; }
    void set_role(bool admin) noexcept { m_admin = admin; }
    void open() noexcept { m_opened = true; }
    void close() noexcept { m_opened = false; }
    // After a context switch: closed, no access, a fresh id; user id and role stay.
    void switch_context() noexcept;

  private:
    // The counter's value, which is then incremented; aborts at the largest value.
    static std::uint64_t take_id() noexcept;

    static std::uint64_t id_counter;

    transfer_server m_protocol;
    std::uint64_t m_id;
    std::uint64_t m_user_id = 0;
    bool m_opened = false;
    bool m_accessed = false;
    bool m_admin = false;
};
