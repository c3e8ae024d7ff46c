#include "session/network_protocol.h"

#include <cerrno>
#include <utility>

#include "session/network_error.h"

namespace {

using bytes = network_protocol::bytes;

// Larger arrays are refused by the bus library's argument checks, which by default abort
// the process; the transport turns them into an error instead. Arrays of 2^31 bytes or more
// are ENOBUFS in any case.
constexpr std::size_t kMaxArrayLength = DBUS_MAXIMUM_ARRAY_LENGTH;

std::error_code generic(int value) {
    return {value, std::generic_category()};
}

bool append_word(DBusMessage* message, std::uint32_t word, std::error_code& ec) {
    DBusMessageIter iter;
    dbus_message_iter_init_append(message, &iter);
    const dbus_uint32_t value = word;
    if (!dbus_message_iter_append_basic(&iter, DBUS_TYPE_UINT32, &value)) {
        ec = generic(ENOMEM);
        return false;
    }
    return true;
}

bool append_bytes(DBusMessage* message, const bytes& data, std::error_code& ec) {
    if (data.size() > kMaxArrayLength) {
        ec = generic(ENOBUFS);
        return false;
    }
    DBusMessageIter iter;
    dbus_message_iter_init_append(message, &iter);
    DBusMessageIter array;
    if (!dbus_message_iter_open_container(&iter, DBUS_TYPE_ARRAY, DBUS_TYPE_BYTE_AS_STRING,
                                          &array)) {
        ec = generic(ENOMEM);
        return false;
    }
    // An empty array is still appended (as "ay" with no elements); the library wants a
    // valid pointer even then.
    static const unsigned char kNone = 0;
    const unsigned char* elements = data.empty() ? &kNone : data.data();
    if (!dbus_message_iter_append_fixed_array(&array, DBUS_TYPE_BYTE, &elements,
                                              static_cast<int>(data.size())) ||
        !dbus_message_iter_close_container(&iter, &array)) {
        dbus_message_iter_abandon_container(&iter, &array);
        ec = generic(ENOMEM);
        return false;
    }
    return true;
}

bool append_all(DBusMessage* message, std::initializer_list<network_protocol::argument> arguments,
                std::error_code& ec) {
    for (const auto& argument : arguments) {
        const bool appended = argument.data != nullptr ? append_bytes(message, *argument.data, ec)
                                                       : append_word(message, argument.word, ec);
        if (!appended) {
            return false;
        }
    }
    return true;
}

// Queues message on connection and flushes it out; ENOMEM when the library cannot queue it.
bool send_now(DBusConnection* connection, DBusMessage* message, std::error_code& ec) {
    if (!dbus_connection_send(connection, message, nullptr)) {
        ec = generic(ENOMEM);
        return false;
    }
    dbus_connection_flush(connection);
    ec.clear();
    return true;
}

// Copies the byte array under iter; anything else gives an empty vector.
bytes read_bytes(DBusMessageIter& iter) {
    if (dbus_message_iter_get_arg_type(&iter) != DBUS_TYPE_ARRAY ||
        dbus_message_iter_get_element_type(&iter) != DBUS_TYPE_BYTE) {
        return {};
    }
    DBusMessageIter array;
    dbus_message_iter_recurse(&iter, &array);
    const unsigned char* elements = nullptr;
    int count = 0;
    dbus_message_iter_get_fixed_array(&array, &elements, &count);
    if (elements == nullptr || count <= 0) {
        return {};
    }
    return bytes(elements, elements + count);
}

std::string text_or_empty(const char* text) {
    return text != nullptr ? text : std::string();
}

}  // namespace

network_protocol::network_protocol(network_protocol&& other) noexcept
    : m_destination(std::move(other.m_destination)),
      m_interface(std::move(other.m_interface)),
      m_path(std::move(other.m_path)),
      m_method(std::move(other.m_method)),
      m_connection(std::move(other.m_connection)),
      m_message(std::move(other.m_message)),
      m_timeout(std::exchange(other.m_timeout, -1)) {}

network_protocol& network_protocol::operator=(network_protocol&& other) noexcept {
    if (this != &other) {
        m_destination = std::move(other.m_destination);
        m_interface = std::move(other.m_interface);
        m_path = std::move(other.m_path);
        m_method = std::move(other.m_method);
        m_connection = std::move(other.m_connection);
        m_message = std::move(other.m_message);
        m_timeout = std::exchange(other.m_timeout, -1);
    }
    return *this;
}

void network_protocol::set_connection(DBusConnection* connection) {
    m_connection = dbus_handle::retain(connection);
}

void network_protocol::set_message(DBusMessage* message) {
    m_message = dbus_handle::retain(message);
}

void network_protocol::set_destination(std::string destination) {
    m_destination = std::move(destination);
}

void network_protocol::set_interface(dbus_iface::iface&& address) {
    m_path = address.path();
    m_interface = address.interface();
    m_method = address.method();
}

bool network_protocol::connected() const {
    return m_connection != nullptr && dbus_connection_get_is_connected(m_connection.get());
}

bool network_protocol::check_parameters() const {
    if (m_destination.empty() || m_path.empty() || m_interface.empty() || m_method.empty()) {
        return false;
    }
    return dbus_validate_bus_name(m_destination.c_str(), nullptr) &&
           dbus_validate_path(m_path.c_str(), nullptr) &&
           dbus_validate_interface(m_interface.c_str(), nullptr) &&
           dbus_validate_member(m_method.c_str(), nullptr);
}

std::string network_protocol::get_sender_id() const {
    return m_message ? text_or_empty(dbus_message_get_sender(m_message.get())) : std::string();
}

std::string network_protocol::get_sender_path() const {
    return m_message ? text_or_empty(dbus_message_get_path(m_message.get())) : std::string();
}

std::string network_protocol::get_sender_interface() const {
    return m_message ? text_or_empty(dbus_message_get_interface(m_message.get())) : std::string();
}

std::string network_protocol::get_sender_method() const {
    return m_message ? text_or_empty(dbus_message_get_member(m_message.get())) : std::string();
}

bool network_protocol::is_received_method(const std::string& interface,
                                          const std::string& method) const {
    return m_message && dbus_message_get_type(m_message.get()) == DBUS_MESSAGE_TYPE_METHOD_CALL &&
           get_sender_interface() == interface && get_sender_method() == method;
}

bool network_protocol::respond_with(std::initializer_list<argument> arguments,
                                    std::error_code& ec) {
    if (!connected()) {
        ec = network_error::disconnected;
        return false;
    }
    // A message without a serial never came over a bus and cannot be answered (the bus
    // library would abort the process on the attempt).
    if (!m_message || dbus_message_get_serial(m_message.get()) == 0) {
        ec = network_error::invalid_argument;
        return false;
    }
    dbus_handle::message_ptr reply(dbus_message_new_method_return(m_message.get()));
    if (!reply) {
        ec = generic(ENOMEM);
        return false;
    }
    if (!append_all(reply.get(), arguments, ec)) {
        return false;
    }
    return send_now(m_connection.get(), reply.get(), ec);
}

bool network_protocol::response(const bytes& data, std::error_code& ec) {
    return respond_with({{0, &data}}, ec);
}

bool network_protocol::response(std::uint32_t w1, std::uint32_t w2, std::error_code& ec) {
    return respond_with({{w1}, {w2}}, ec);
}

bool network_protocol::response(std::uint32_t w1, std::uint32_t w2, const bytes& data,
                                std::error_code& ec) {
    return respond_with({{w1}, {w2}, {0, &data}}, ec);
}

bool network_protocol::response(std::uint32_t w1, std::uint32_t w2, std::uint32_t w3,
                                std::error_code& ec) {
    return respond_with({{w1}, {w2}, {w3}}, ec);
}

bool network_protocol::response(std::uint32_t w1, std::uint32_t w2, std::uint32_t w3,
                                const bytes& data, std::error_code& ec) {
    return respond_with({{w1}, {w2}, {w3}, {0, &data}}, ec);
}

dbus_handle::message_ptr network_protocol::new_call(std::initializer_list<argument> arguments,
                                                    std::error_code& ec) const {
    if (!connected()) {
        ec = network_error::disconnected;
        return nullptr;
    }
    if (!check_parameters()) {
        ec = network_error::invalid_argument;
        return nullptr;
    }
    dbus_handle::message_ptr call(dbus_message_new_method_call(
        m_destination.c_str(), m_path.c_str(), m_interface.c_str(), m_method.c_str()));
    if (!call) {
        ec = generic(ENOMEM);
        return nullptr;
    }
    if (!append_all(call.get(), arguments, ec)) {
        return nullptr;
    }
    return call;
}

bool network_protocol::request_with(std::initializer_list<argument> arguments,
                                    std::error_code& ec) {
    dbus_handle::message_ptr call = new_call(arguments, ec);
    if (!call) {
        return false;
    }
    DBusPendingCall* raw_pending = nullptr;
    if (!dbus_connection_send_with_reply(m_connection.get(), call.get(), &raw_pending, m_timeout)) {
        ec = generic(ENOMEM);
        return false;
    }
    dbus_handle::pending_call_ptr pending(raw_pending);
    if (!pending) {
        // The library hands out no pending call once the connection is closing.
        ec = network_error::disconnected;
        return false;
    }
    dbus_connection_flush(m_connection.get());
    call.reset();
    dbus_pending_call_block(pending.get());
    dbus_handle::message_ptr reply(dbus_pending_call_steal_reply(pending.get()));
    if (!reply) {
        ec = network_error::message_not_received;
        return false;
    }
    if (dbus_message_get_type(reply.get()) == DBUS_MESSAGE_TYPE_ERROR) {
        m_message.reset();
        ec = network_error::message_not_processed;
        return false;
    }
    m_message = std::move(reply);
    ec.clear();
    return true;
}

bool network_protocol::request(const bytes& data, std::error_code& ec) {
    return request_with({{0, &data}}, ec);
}

bool network_protocol::request(std::uint32_t w1, std::uint32_t w2, std::error_code& ec) {
    return request_with({{w1}, {w2}}, ec);
}

bool network_protocol::request(std::uint32_t w1, std::uint32_t w2, const bytes& data,
                               std::error_code& ec) {
    return request_with({{w1}, {w2}, {0, &data}}, ec);
}

bool network_protocol::request(std::uint32_t w1, std::uint32_t w2, std::uint32_t w3,
                               std::error_code& ec) {
    return request_with({{w1}, {w2}, {w3}}, ec);
}

bool network_protocol::request(std::uint32_t w1, std::uint32_t w2, std::uint32_t w3,
                               const bytes& data, std::error_code& ec) {
    return request_with({{w1}, {w2}, {w3}, {0, &data}}, ec);
}

bool network_protocol::send_with(std::initializer_list<argument> arguments, std::error_code& ec) {
    dbus_handle::message_ptr call = new_call(arguments, ec);
    if (!call) {
        return false;
    }
    dbus_message_set_no_reply(call.get(), TRUE);
    return send_now(m_connection.get(), call.get(), ec);
}

bool network_protocol::send(const bytes& data, std::error_code& ec) {
    return send_with({{0, &data}}, ec);
}

bool network_protocol::send(std::uint32_t w1, std::uint32_t w2, std::error_code& ec) {
    return send_with({{w1}, {w2}}, ec);
}

bool network_protocol::send(std::uint32_t w1, std::uint32_t w2, const bytes& data,
                            std::error_code& ec) {
    return send_with({{w1}, {w2}, {0, &data}}, ec);
}

bool network_protocol::send(std::uint32_t w1, std::uint32_t w2, std::uint32_t w3,
                            std::error_code& ec) {
    return send_with({{w1}, {w2}, {w3}}, ec);
}

bool network_protocol::emit_signal(std::error_code& ec) {
    if (!connected()) {
        ec = network_error::disconnected;
        return false;
    }
    // A malformed name would make the bus library abort the process instead of failing.
    if (!dbus_validate_path(m_path.c_str(), nullptr) ||
        !dbus_validate_interface(m_interface.c_str(), nullptr) ||
        !dbus_validate_member(m_method.c_str(), nullptr)) {
        ec = network_error::invalid_argument;
        return false;
    }
    dbus_handle::message_ptr signal(
        dbus_message_new_signal(m_path.c_str(), m_interface.c_str(), m_method.c_str()));
    if (!signal) {
        ec = generic(ENOMEM);
        return false;
    }
    return send_now(m_connection.get(), signal.get(), ec);
}

network_protocol::bytes network_protocol::receive() {
    std::error_code ignored;
    return receive(ignored);
}

network_protocol::bytes network_protocol::receive(std::error_code& ec) {
    DBusMessageIter iter;
    if (!m_message || !dbus_message_iter_init(m_message.get(), &iter)) {
        ec = network_error::invalid_argument;
        return {};
    }
    ec.clear();
    return read_bytes(iter);
}

network_protocol::total network_protocol::receive_total() {
    std::error_code ignored;
    return receive_total(ignored);
}

network_protocol::total network_protocol::receive_total(std::error_code& ec) {
    DBusMessageIter iter;
    if (!m_message || !dbus_message_iter_init(m_message.get(), &iter)) {
        ec = network_error::invalid_argument;
        return {0, 0, 0, {}};
    }
    std::uint32_t words[3] = {0, 0, 0};
    for (auto& word : words) {
        if (dbus_message_iter_get_arg_type(&iter) != DBUS_TYPE_UINT32) {
            break;
        }
        dbus_uint32_t value = 0;
        dbus_message_iter_get_basic(&iter, &value);
        word = value;
        dbus_message_iter_next(&iter);
    }
    ec.clear();
    return {words[0], words[1], words[2], read_bytes(iter)};
}
