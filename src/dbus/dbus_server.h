#pragma once

#include <dbus/dbus.h>
#include <glib.h>
#include <sys/types.h>

#include <deque>
#include <map>
#include <memory>
#include <string>
#include <system_error>
#include <unordered_map>
#include <utility>

#include "dbus/dbus_handles.h"
#include "dbus/dbus_iface.h"
#include "session/transfer_session.h"
#include "store/store_manager.h"

// The daemon's attachment to the system bus: the bus connection and the GLib main loop,
// the well-known name, one object path per interface group with one message function, one
// session per client (keyed by its unique bus name) and the shared object store that every
// handler receives. Used from the main thread only.
//
// Operations with an error code clear it and return true on success; on failure they return
// false with a "DBus server" code (or, for emit_signal, a "network" or generic one).
class DbusServer {
  public:
    // What a method is bound to; moving it leaves the source without a handler.
    struct HandlerContext {
        using handler_type = DBusHandlerResult (*)(transfer_session&, ztl::StoreManager&);

        HandlerContext() = default;
        explicit HandlerContext(handler_type h) noexcept : handler(h) {}
        HandlerContext(HandlerContext&& other) noexcept
            : handler(std::exchange(other.handler, nullptr)) {}
        HandlerContext& operator=(HandlerContext&& other) noexcept {
            handler = std::exchange(other.handler, nullptr);
            return *this;
        }
        HandlerContext(const HandlerContext&) = delete;
        HandlerContext& operator=(const HandlerContext&) = delete;
        ~HandlerContext() = default;

        handler_type handler = nullptr;
    };

    DbusServer() = default;
    // Stops the server; the bus library then dispatches nothing more to it.
    ~DbusServer();
    DbusServer(const DbusServer&) = delete;
    DbusServer& operator=(const DbusServer&) = delete;

    // The well-known name that connect() takes.
    void set_name(const std::string& name) { m_name = name; }

    // Gets the shared bus connection of type and takes the name (replacing an owner that
    // allows it). No name: "Invalid name"; no bus: "Invalid connection"; the name not
    // owned: "Bus already in use"; the connection gone meanwhile: "Client not connected".
    bool connect(DBusBusType type, std::error_code& ec);
    // True when the connection is set and still open.
    bool is_connected() const;
    // Drops the object paths and this server's reference on the connection.
    void disconnect();

    // Creates the main loop on GLib's default context, not running.
    void create_loop();
    // Lets the default context dispatch the connection's messages.
    void setup_connection();
    // Runs the main loop until stop(); returns at once without a loop.
    void start();
    // Quits the loop (also from inside a dispatch) and disconnects; nothing without a loop.
    void stop();

    // Binds handler to the descriptor's path, interface and member. Not connected: "Client
    // not connected"; the bus library refuses the path: "Object path already in use"; the
    // member bound already: "Interface already in use" (the first handler stays).
    bool register_handler(dbus_iface::iface&& descriptor, HandlerContext::handler_type handler,
                          std::error_code& ec);

    // Creates the session of sender. Not connected: "Client not connected"; null sender:
    // "Invalid sender id"; a session exists already: "Client register failure".
    bool register_connection(const char* sender, std::error_code& ec);
    bool unregister_connection(const std::string& sender);
    bool is_registered(const std::string& sender) const;
    // Resets an established session; false when sender has none.
    bool discard(const std::string& sender);
    // The session of sender, or null.
    transfer_session* get_session(const char* sender);
    // Finds or creates the session of the message's sender and hands it the message; null
    // when the message has no sender or no session can be made.
    transfer_session* process(DBusMessage* message);

    ztl::StoreManager& manager() noexcept { return m_manager; }
    // The number of client sessions.
    std::size_t connection_count() const noexcept { return m_sessions.size(); }

    // Broadcasts a signal without arguments from the descriptor's address. Not connected:
    // "Disconnected" (network); the library out of memory: ENOMEM.
    bool emit_signal(dbus_iface::iface&& descriptor, std::error_code& ec);

    // The name of the D-Bus error that reply_error() sends.
    static constexpr const char* error_name = "ru.quorvex.server.Error";

    // Answers the method call with a D-Bus error named error_name whose message is text:
    // for a caller whose session has no transfer context to carry a reply. Not connected:
    // "Client not connected"; the library out of memory: ENOMEM.
    bool reply_error(DBusMessage* call, const std::string& text, std::error_code& ec);

    // The Unix user id the bus reports for the connection of sender (a unique name), which
    // the bus itself vouches for. Not connected: "Client not connected"; the bus does not
    // know the sender: "Client isn't registered".
    bool sender_uid(const std::string& sender, uid_t& uid, std::error_code& ec) const;

  private:
    using method_map = std::unordered_map<std::string, HandlerContext>;
    using interface_map = std::unordered_map<std::string, method_map>;
    // The user data of one object path: map nodes are never erased, so its address stays.
    using path_entry = std::pair<DbusServer*, interface_map>;

    // The message function of every registered path (user data: the path's entry): finds
    // the caller's session and calls the handler bound to the message's interface and
    // member under that path. Declines (the bus library then answers "unknown method")
    // whatever it cannot hand to a handler.
    // Forgets the session of a client whose unique name the bus reports lost.
    static DBusHandlerResult departure_filter(DBusConnection* connection, DBusMessage* message,
                                              void* data);
    static DBusHandlerResult primary_handler(DBusConnection* connection, DBusMessage* message,
                                             void* user_data);

    struct loop_unref {
        void operator()(GMainLoop* loop) const noexcept { g_main_loop_unref(loop); }
    };
    using loop_ptr = std::unique_ptr<GMainLoop, loop_unref>;

    dbus_handle::connection_ptr m_connection;
    loop_ptr m_loop;
    // The bus library keeps the address of each table: entries are only appended.
    std::deque<DBusObjectPathVTable> m_tables;
    std::map<std::string, transfer_session> m_sessions;
    bool m_watching_departures = false;
    std::string m_name;
    std::unordered_map<std::string, path_entry> m_handlers;
    ztl::StoreManager m_manager;
};
