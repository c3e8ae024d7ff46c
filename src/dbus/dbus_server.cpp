#include "dbus/dbus_server.h"

#include <dbus/dbus-glib-lowlevel.h>

#include <cerrno>

#include "dbus/server_error.h"
#include "logging/log_fields.h"
#include "session/network_error.h"

namespace {

// Frees a DBusError on every path.
struct bus_error {
    bus_error() { dbus_error_init(&error); }
    ~bus_error() { dbus_error_free(&error); }
    bus_error(const bus_error&) = delete;
    bus_error& operator=(const bus_error&) = delete;
    DBusError error;
};

bool fail(std::error_code& ec, std::error_code error) {
    ec = error;
    return false;
}

}  // namespace

DbusServer::~DbusServer() {
    stop();
    disconnect();
}

bool DbusServer::connect(DBusBusType type, std::error_code& ec) {
    ec.clear();
    if (m_name.empty()) {
        return fail(ec, server_error::invalid_name);
    }
    dbus_handle::connection_ptr connection(dbus_bus_get(type, nullptr));
    if (!connection) {
        return fail(ec, server_error::invalid_connection);
    }
    const int reply = dbus_bus_request_name(connection.get(), m_name.c_str(),
                                            DBUS_NAME_FLAG_REPLACE_EXISTING, nullptr);
    if (reply == DBUS_REQUEST_NAME_REPLY_IN_QUEUE) {
        // A daemon that gives up must not inherit the name later while it winds down.
        dbus_bus_release_name(connection.get(), m_name.c_str(), nullptr);
    }
    if (reply != DBUS_REQUEST_NAME_REPLY_PRIMARY_OWNER &&
        reply != DBUS_REQUEST_NAME_REPLY_ALREADY_OWNER) {
        return fail(ec, server_error::bus_in_use);
    }
    if (!dbus_connection_get_is_connected(connection.get())) {
        return fail(ec, server_error::not_connected);
    }
    m_connection = std::move(connection);
    return true;
}

bool DbusServer::is_connected() const {
    return m_connection && dbus_connection_get_is_connected(m_connection.get());
}

namespace {

// The bus announces each client that leaves with the loss of its unique name.
constexpr const char* kDepartures =
    "type='signal',sender='org.freedesktop.DBus',path='/org/freedesktop/DBus',"
    "interface='org.freedesktop.DBus',member='NameOwnerChanged',arg2=''";

}  // namespace

void DbusServer::disconnect() {
    if (!m_connection) {
        return;
    }
    // The connection is shared and outlives this reference: without its paths it can no
    // longer hand a message to tables or sessions that are about to go.
    for (const auto& [path, entry] : m_handlers) {
        dbus_connection_unregister_object_path(m_connection.get(), path.c_str());
    }
    if (m_watching_departures) {
        dbus_bus_remove_match(m_connection.get(), kDepartures, nullptr);
        dbus_connection_remove_filter(m_connection.get(), &DbusServer::departure_filter, this);
        m_watching_departures = false;
    }
    m_connection.reset();
}

void DbusServer::create_loop() {
    m_loop.reset(g_main_loop_new(nullptr, FALSE));
}

void DbusServer::setup_connection() {
    if (m_connection) {
        dbus_connection_setup_with_g_main(m_connection.get(), nullptr);
        // A session of a client that has left is forgotten: its keys go with it, and a daemon
        // with many short-lived clients does not grow. Its disk stays as it is.
        if (!m_watching_departures &&
            dbus_connection_add_filter(m_connection.get(), &DbusServer::departure_filter, this,
                                       nullptr)) {
            m_watching_departures = true;
            dbus_bus_add_match(m_connection.get(), kDepartures, nullptr);
        }
    }
}

DBusHandlerResult DbusServer::departure_filter(DBusConnection*, DBusMessage* message, void* data) {
    // Only the bus itself can send as "org.freedesktop.DBus".
    if (dbus_message_is_signal(message, DBUS_INTERFACE_DBUS, "NameOwnerChanged") &&
        dbus_message_has_sender(message, DBUS_SERVICE_DBUS)) {
        const char* name = nullptr;
        const char* old_owner = nullptr;
        const char* new_owner = nullptr;
        if (dbus_message_get_args(message, nullptr, DBUS_TYPE_STRING, &name, DBUS_TYPE_STRING,
                                  &old_owner, DBUS_TYPE_STRING, &new_owner, DBUS_TYPE_INVALID) &&
            name[0] == ':' && new_owner[0] == '\0') {
            static_cast<DbusServer*>(data)->unregister_connection(name);
        }
    }
    return DBUS_HANDLER_RESULT_NOT_YET_HANDLED;
}

void DbusServer::start() {
    if (!m_loop) {
        return;
    }
    // A reference of its own: stop() drops the member while the loop runs.
    const loop_ptr running(g_main_loop_ref(m_loop.get()));
    g_main_loop_run(running.get());
}

void DbusServer::stop() {
    if (!m_loop) {
        return;
    }
    g_main_loop_quit(m_loop.get());
    disconnect();
    m_loop.reset();
}

bool DbusServer::register_handler(dbus_iface::iface&& descriptor,
                                  HandlerContext::handler_type handler, std::error_code& ec) {
    ec.clear();
    if (!is_connected()) {
        return fail(ec, server_error::not_connected);
    }
    const std::string path = descriptor.path();
    const std::string interface = descriptor.interface();
    const std::string method = descriptor.method();

    auto known_path = m_handlers.find(path);
    if (known_path == m_handlers.end()) {
        method_map methods;
        interface_map interfaces;
        if (!methods.try_emplace(method, handler).second ||
            !interfaces.try_emplace(interface, std::move(methods)).second) {
            return fail(ec, server_error::internal_error);
        }
        const auto [entry, inserted] =
            m_handlers.try_emplace(path, path_entry(this, std::move(interfaces)));
        if (!inserted) {
            return fail(ec, server_error::internal_error);
        }
        DBusObjectPathVTable& table = m_tables.emplace_back();
        table.unregister_function = nullptr;
        table.message_function = &DbusServer::primary_handler;
        if (!dbus_connection_register_object_path(m_connection.get(), path.c_str(), &table,
                                                  &entry->second)) {
            return fail(ec, server_error::object_path_in_use);
        }
        return true;
    }
    interface_map& interfaces = known_path->second.second;
    auto known_interface = interfaces.find(interface);
    if (known_interface == interfaces.end()) {
        method_map methods;
        if (!methods.try_emplace(method, handler).second ||
            !interfaces.try_emplace(interface, std::move(methods)).second) {
            return fail(ec, server_error::internal_error);
        }
        return true;
    }
    if (known_interface->second.contains(method)) {
        return fail(ec, server_error::interface_in_use);
    }
    if (!known_interface->second.try_emplace(method, handler).second) {
        return fail(ec, server_error::internal_error);
    }
    return true;
}

bool DbusServer::register_connection(const char* sender, std::error_code& ec) {
    ec.clear();
    if (!is_connected()) {
        return fail(ec, server_error::not_connected);
    }
    if (sender == nullptr) {
        return fail(ec, server_error::invalid_sender);
    }
    const auto [session, inserted] = m_sessions.try_emplace(sender);
    if (!inserted) {
        return fail(ec, server_error::client_register_failure);
    }
    session->second.protocol().network().set_connection(m_connection.get());
    return true;
}

bool DbusServer::unregister_connection(const std::string& sender) {
    return m_sessions.erase(sender) != 0;
}

bool DbusServer::is_registered(const std::string& sender) const {
    return m_sessions.contains(sender);
}

bool DbusServer::discard(const std::string& sender) {
    const auto session = m_sessions.find(sender);
    if (session == m_sessions.end()) {
        return false;
    }
    if (session->second.protocol().is_session_established()) {
        session->second.protocol().reset();
    }
    return true;
}

transfer_session* DbusServer::get_session(const char* sender) {
    if (sender == nullptr) {
        return nullptr;
    }
    const auto session = m_sessions.find(sender);
    return session == m_sessions.end() ? nullptr : &session->second;
}

transfer_session* DbusServer::process(DBusMessage* message) {
    const char* sender = dbus_message_get_sender(message);
    if (sender == nullptr) {
        return nullptr;
    }
    transfer_session* session = get_session(sender);
    if (session == nullptr) {
        std::error_code ec;
        if (!register_connection(sender, ec)) {
            return nullptr;
        }
        session = get_session(sender);
        if (session == nullptr) {
            return nullptr;
        }
    }
    session->protocol().network().set_message(message);
    return session;
}

bool DbusServer::emit_signal(dbus_iface::iface&& descriptor, std::error_code& ec) {
    ec.clear();
    if (!is_connected()) {
        return fail(ec, network_error::disconnected);
    }
    const std::string path = descriptor.path();
    const std::string interface = descriptor.interface();
    const std::string member = descriptor.method();
    const dbus_handle::message_ptr signal(
        dbus_message_new_signal(path.c_str(), interface.c_str(), member.c_str()));
    if (!signal || !dbus_connection_send(m_connection.get(), signal.get(), nullptr)) {
        return fail(ec, std::make_error_code(std::errc::not_enough_memory));
    }
    dbus_connection_flush(m_connection.get());
    return true;
}

bool DbusServer::reply_error(DBusMessage* call, const std::string& text, std::error_code& ec) {
    ec.clear();
    if (!is_connected()) {
        return fail(ec, server_error::not_connected);
    }
    if (call == nullptr) {
        return fail(ec, network_error::invalid_argument);
    }
    // The library aborts on text that is not UTF-8; a translated message always is, and
    // anything else is replaced rather than sent.
    const char* message = dbus_validate_utf8(text.c_str(), nullptr) ? text.c_str() : "";
    const dbus_handle::message_ptr reply(dbus_message_new_error(call, error_name, message));
    if (!reply || !dbus_connection_send(m_connection.get(), reply.get(), nullptr)) {
        return fail(ec, std::make_error_code(std::errc::not_enough_memory));
    }
    dbus_connection_flush(m_connection.get());
    return true;
}

bool DbusServer::sender_uid(const std::string& sender, uid_t& uid, std::error_code& ec) const {
    ec.clear();
    if (!is_connected()) {
        return fail(ec, server_error::not_connected);
    }
    // The library would abort the process on a malformed name.
    if (!dbus_validate_bus_name(sender.c_str(), nullptr)) {
        return fail(ec, server_error::client_not_registered);
    }
    bus_error error;
    const unsigned long reported =
        dbus_bus_get_unix_user(m_connection.get(), sender.c_str(), &error.error);
    if (reported == static_cast<unsigned long>(-1) || dbus_error_is_set(&error.error)) {
        return fail(ec, server_error::client_not_registered);
    }
    uid = static_cast<uid_t>(reported);
    return true;
}

DBusHandlerResult DbusServer::primary_handler(DBusConnection*, DBusMessage* message,
                                              void* user_data) {
    auto* entry = static_cast<path_entry*>(user_data);
    // Only method calls are requests: a signal addressed to the service must not drive a
    // session or reach a handler.
    if (entry == nullptr || dbus_message_get_type(message) != DBUS_MESSAGE_TYPE_METHOD_CALL) {
        return DBUS_HANDLER_RESULT_NOT_YET_HANDLED;
    }
    const char* interface = dbus_message_get_interface(message);
    const char* member = dbus_message_get_member(message);
    if (interface == nullptr || member == nullptr) {
        return DBUS_HANDLER_RESULT_NOT_YET_HANDLED;
    }
    DbusServer& server = *entry->first;
    transfer_session* session = server.process(message);
    if (session == nullptr) {
        return DBUS_HANDLER_RESULT_NOT_YET_HANDLED;
    }
    // Handlers are looked up only under the path the message was sent to.
    DBusHandlerResult result = DBUS_HANDLER_RESULT_NOT_YET_HANDLED;
    const auto methods = entry->second.find(interface);
    if (methods != entry->second.end()) {
        const auto bound = methods->second.find(member);
        if (bound != methods->second.end() && bound->second.handler != nullptr) {
            // Every journal entry of the request names its method.
            const ztl::RequestLogScope log_scope(member);
            result = bound->second.handler(*session, server.m_manager);
        }
    }
    // The call has been answered or declined; the session keeps no copy of it (nor of the
    // memory a large argument takes).
    session->protocol().network().set_message(nullptr);
    return result;
}
