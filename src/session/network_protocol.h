#pragma once

#include <dbus/dbus.h>

#include <cstdint>
#include <string>
#include <system_error>
#include <tuple>
#include <vector>

#include "dbus/dbus_handles.h"
#include "dbus/dbus_iface.h"

// The lowest layer of the session protocol: carries unsigned 32-bit words ("u") and byte
// arrays ("ay") as D-Bus message arguments. On the daemon side it reads the method call
// being served and answers it; on the client side it makes calls and emits signals. It
// knows nothing of packets or encryption. Used from one thread; no locks.
//
// Every fallible operation clears ec and returns true on success; on failure it returns
// false with the reason in ec ("network" category, or generic ENOMEM / ENOBUFS) and leaves
// the current message and connection as they were (except an error reply to request()).
class network_protocol {
  public:
    using bytes = std::vector<unsigned char>;
    using total = std::tuple<std::uint32_t, std::uint32_t, std::uint32_t, bytes>;

    network_protocol() = default;
    network_protocol(network_protocol&& other) noexcept;
    network_protocol& operator=(network_protocol&& other) noexcept;
    network_protocol(const network_protocol&) = delete;
    network_protocol& operator=(const network_protocol&) = delete;
    ~network_protocol() = default;

    // Keeps a reference on the connection that calls and replies go out on.
    void set_connection(DBusConnection* connection);
    // Makes message the current one (the call being served, or null); keeps a reference.
    void set_message(DBusMessage* message);
    // The current message (borrowed; null when none).
    DBusMessage* get_message() const noexcept { return m_message.get(); }
    // The bus name outgoing calls are addressed to.
    void set_destination(std::string destination);
    // Milliseconds a blocking call waits; -1 asks the bus library for its default.
    void set_timeout(int timeout) noexcept { m_timeout = timeout; }
    int get_timeout() const noexcept { return m_timeout; }
    // Takes path, interface and member of outgoing calls and signals from the descriptor.
    void set_interface(dbus_iface::iface&& address);

    // True when a connection is set and still open.
    bool connected() const;
    // True when destination, path, interface and member are all set and well-formed bus
    // names (a malformed one would make the bus library abort the process).
    bool check_parameters() const;

    // Header fields of the current message; empty without a message or field.
    std::string get_sender_id() const;
    std::string get_sender_path() const;
    std::string get_sender_interface() const;
    std::string get_sender_method() const;
    // True when the current message is a method call of that interface and member.
    bool is_received_method(const std::string& interface, const std::string& method) const;

    // Answers the current message with a method return carrying these arguments in order.
    bool response(const bytes& data, std::error_code& ec);
    bool response(std::uint32_t w1, std::uint32_t w2, std::error_code& ec);
    bool response(std::uint32_t w1, std::uint32_t w2, const bytes& data, std::error_code& ec);
    bool response(std::uint32_t w1, std::uint32_t w2, std::uint32_t w3, std::error_code& ec);
    bool response(std::uint32_t w1, std::uint32_t w2, std::uint32_t w3, const bytes& data,
                  std::error_code& ec);

    // Blocking method call; on success the reply becomes the current message. An error
    // reply clears the current message and gives "Message not processed ...".
    bool request(const bytes& data, std::error_code& ec);
    bool request(std::uint32_t w1, std::uint32_t w2, std::error_code& ec);
    bool request(std::uint32_t w1, std::uint32_t w2, const bytes& data, std::error_code& ec);
    bool request(std::uint32_t w1, std::uint32_t w2, std::uint32_t w3, std::error_code& ec);
    bool request(std::uint32_t w1, std::uint32_t w2, std::uint32_t w3, const bytes& data,
                 std::error_code& ec);

    // Method call flagged as expecting no reply.
    bool send(const bytes& data, std::error_code& ec);
    bool send(std::uint32_t w1, std::uint32_t w2, std::error_code& ec);
    bool send(std::uint32_t w1, std::uint32_t w2, const bytes& data, std::error_code& ec);
    bool send(std::uint32_t w1, std::uint32_t w2, std::uint32_t w3, std::error_code& ec);

    // Signal without arguments from the current path, interface and member.
    bool emit_signal(std::error_code& ec);

    // The first argument of the current message as bytes; empty when it is not a byte
    // array. No message or no arguments: empty, and "Invalid argument" in ec.
    bytes receive();
    bytes receive(std::error_code& ec);
    // Up to three leading "u" words (0 for each one missing) and then a byte array (empty
    // when absent), e.g. ("u" 2, "u" 16, "ay" d) gives (2, 16, 0, d). No message or no
    // arguments: (0, 0, 0, empty), and "Invalid argument" in ec.
    total receive_total();
    total receive_total(std::error_code& ec);

    // One argument of an outgoing message: a word or a byte array.
    struct argument {
        std::uint32_t word = 0;
        const bytes* data = nullptr;  // a byte array when set
    };

  private:
    bool respond_with(std::initializer_list<argument> arguments, std::error_code& ec);
    dbus_handle::message_ptr new_call(std::initializer_list<argument> arguments,
                                      std::error_code& ec) const;
    bool request_with(std::initializer_list<argument> arguments, std::error_code& ec);
    bool send_with(std::initializer_list<argument> arguments, std::error_code& ec);

    std::string m_destination;
    std::string m_interface;
    std::string m_path;
    std::string m_method;
    dbus_handle::connection_ptr m_connection;
    dbus_handle::message_ptr m_message;
    int m_timeout = -1;
};
