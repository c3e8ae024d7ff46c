#pragma once

// The floor under every request of the daemon: a bus service in raw libdbus that answers a
// byte array with the same bytes, and the client call that measures one round trip to it.

#include <dbus/dbus.h>
#include <sys/types.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "testing/private_bus.h"

namespace bench_bus {

inline constexpr const char* kEchoName = "ru.quorvex.bench.echo";
inline constexpr const char* kEchoPath = "/ru/quorvex/bench/echo";
inline constexpr const char* kEchoInterface = "ru.quorvex.bench.echo";
inline constexpr const char* kEchoMethod = "Echo";

// The bus policy that lets root own the echo name and anyone call it; the bus denies both
// for a name without policy.
std::string echo_policy();

// Owns kEchoName on the bus at an address and answers kEchoMethod, on a thread of its own
// with its own connection, until destroyed. A call whose arguments are not one byte array
// gets the bus's invalid-arguments error.
class echo_service {
  public:
    // Connects and takes the name, retrying until the bus's policy allows it or timeout
    // has passed; throws std::runtime_error then.
    echo_service(const std::string& address, std::chrono::milliseconds timeout);
    // Stops answering (within one poll interval) and leaves the bus.
    ~echo_service();
    echo_service(const echo_service&) = delete;
    echo_service& operator=(const echo_service&) = delete;

    // The kernel's id of the answering thread (for its CPU time in /proc).
    pid_t thread_id() const noexcept { return m_thread_id.load(); }
    // Calls answered so far.
    unsigned long long answered() const noexcept { return m_answered.load(); }

  private:
    static DBusHandlerResult filter(DBusConnection* connection, DBusMessage* message, void* self);

    zt_testing::connection_ptr m_connection;
    std::atomic<bool> m_stop{false};
    std::atomic<unsigned long long> m_answered{0};
    std::atomic<pid_t> m_thread_id{0};
    std::thread m_thread;  // last: it ends before the members it uses go
};

// One round trip to the echo service the way the client library makes its calls (send with
// reply, block on the pending call). True when the answer is a method return holding
// exactly data; false for an error, a time-out or other bytes.
bool echo_call(DBusConnection* connection, const std::vector<unsigned char>& data,
               int timeout_ms = 10000);

}  // namespace bench_bus
