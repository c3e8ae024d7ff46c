#include "bench/echo_service.h"

#include <unistd.h>

#include <cstring>
#include <memory>
#include <stdexcept>

#include "testing/process.h"

namespace bench_bus {

namespace {

struct pending_unref {
    void operator()(DBusPendingCall* p) const noexcept { dbus_pending_call_unref(p); }
};
using pending_ptr = std::unique_ptr<DBusPendingCall, pending_unref>;

// How long the service's loop waits for traffic before it looks at its stop flag.
constexpr int kPollMs = 20;

// The single byte array of m, or false when m carries anything else.
bool byte_array_of(DBusMessage* m, const unsigned char*& data, int& size) {
    if (!dbus_message_has_signature(m, "ay")) {
        return false;
    }
    DBusMessageIter it;
    DBusMessageIter array;
    if (!dbus_message_iter_init(m, &it)) {
        return false;
    }
    dbus_message_iter_recurse(&it, &array);
    data = nullptr;
    size = 0;
    dbus_message_iter_get_fixed_array(&array, &data, &size);
    return size >= 0;
}

}  // namespace

std::string echo_policy() {
    return std::string(
               "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-BUS Bus Configuration "
               "1.0//EN\"\n"
               " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
               "<busconfig>\n"
               "  <policy user=\"root\">\n"
               "    <allow own=\"") +
           kEchoName +
           "\"/>\n"
           "  </policy>\n"
           "  <policy context=\"default\">\n"
           "    <allow send_destination=\"" +
           kEchoName +
           "\"/>\n"
           "  </policy>\n"
           "</busconfig>\n";
}

echo_service::echo_service(const std::string& address, std::chrono::milliseconds timeout)
    : m_connection(zt_testing::open_bus(address)) {
    // The bus reloads its policy directory on its own; until it has, the name is denied.
    std::string last_error;
    const bool owned = zt_testing::wait_until(
        [&] {
            zt_testing::error_holder e;
            const int result = dbus_bus_request_name(m_connection.get(), kEchoName,
                                                     DBUS_NAME_FLAG_DO_NOT_QUEUE, &e.error);
            if (dbus_error_is_set(&e.error)) {
                last_error = e.error.message;
            }
            return result == DBUS_REQUEST_NAME_REPLY_PRIMARY_OWNER;
        },
        timeout);
    if (!owned) {
        throw std::runtime_error(std::string("cannot own ") + kEchoName + ": " + last_error);
    }
    if (!dbus_connection_add_filter(m_connection.get(), &echo_service::filter, this, nullptr)) {
        throw std::runtime_error("out of memory adding the echo filter");
    }
    m_thread = std::thread([this] {
        m_thread_id = gettid();
        while (!m_stop.load(std::memory_order_relaxed) &&
               dbus_connection_read_write_dispatch(m_connection.get(), kPollMs)) {
        }
    });
    zt_testing::wait_until([this] { return m_thread_id.load() != 0; }, timeout);
}

echo_service::~echo_service() {
    m_stop = true;
    if (m_thread.joinable()) {
        m_thread.join();
    }
    dbus_connection_remove_filter(m_connection.get(), &echo_service::filter, this);
}

DBusHandlerResult echo_service::filter(DBusConnection* connection, DBusMessage* message,
                                       void* self) {
    if (!dbus_message_is_method_call(message, kEchoInterface, kEchoMethod) ||
        !dbus_message_has_path(message, kEchoPath)) {
        return DBUS_HANDLER_RESULT_NOT_YET_HANDLED;
    }
    const unsigned char* data = nullptr;
    int size = 0;
    zt_testing::message_ptr reply(
        byte_array_of(message, data, size)
            ? dbus_message_new_method_return(message)
            : dbus_message_new_error(message, DBUS_ERROR_INVALID_ARGS, "expected one byte array"));
    if (!reply) {
        return DBUS_HANDLER_RESULT_NEED_MEMORY;
    }
    if (dbus_message_get_type(reply.get()) == DBUS_MESSAGE_TYPE_METHOD_RETURN &&
        !dbus_message_append_args(reply.get(), DBUS_TYPE_ARRAY, DBUS_TYPE_BYTE, &data, size,
                                  DBUS_TYPE_INVALID)) {
        return DBUS_HANDLER_RESULT_NEED_MEMORY;
    }
    if (!dbus_connection_send(connection, reply.get(), nullptr)) {
        return DBUS_HANDLER_RESULT_NEED_MEMORY;
    }
    static_cast<echo_service*>(self)->m_answered.fetch_add(1, std::memory_order_relaxed);
    return DBUS_HANDLER_RESULT_HANDLED;
}

bool echo_call(DBusConnection* connection, const std::vector<unsigned char>& data, int timeout_ms) {
    zt_testing::message_ptr call(
        dbus_message_new_method_call(kEchoName, kEchoPath, kEchoInterface, kEchoMethod));
    if (!call) {
        return false;
    }
    const unsigned char* p = data.data();
    if (!dbus_message_append_args(call.get(), DBUS_TYPE_ARRAY, DBUS_TYPE_BYTE, &p,
                                  static_cast<int>(data.size()), DBUS_TYPE_INVALID)) {
        return false;
    }
    DBusPendingCall* raw = nullptr;
    if (!dbus_connection_send_with_reply(connection, call.get(), &raw, timeout_ms) ||
        raw == nullptr) {
        return false;
    }
    const pending_ptr pending(raw);
    dbus_pending_call_block(pending.get());
    const zt_testing::message_ptr reply(dbus_pending_call_steal_reply(pending.get()));
    if (!reply || dbus_message_get_type(reply.get()) != DBUS_MESSAGE_TYPE_METHOD_RETURN) {
        return false;
    }
    const unsigned char* got = nullptr;
    int size = 0;
    return byte_array_of(reply.get(), got, size) && static_cast<std::size_t>(size) == data.size() &&
           (size == 0 || std::memcmp(got, data.data(), data.size()) == 0);
}

}  // namespace bench_bus
