#include "daemon/daemon.h"

#include <functional>
#include <memory>

#include "config/config_manager.h"
#include "crypto/crypto_error.h"
#include "crypto/genrand.h"
#include "daemon/handler.h"
#include "daemon/hardened_mode.h"
#include "daemon/service_paths.h"
#include "daemon/ztctl_error.h"
#include "foundation/i18n.h"
#include "logging/logger.h"
#include "session/network_error.h"
#include "system/init_vector.h"
#include "system/wipe.h"

using ztl::Logger;

Daemon::Daemon() {
    m_server.set_name("ru.quorvex.server");
}

Daemon::~Daemon() {
    m_server.stop();
    util::wipe(m_credentials.first);
    util::wipe(m_credentials.second);
}

bool Daemon::initialize() {
    config_manager config(name::service::config_path);
    Logger::init("ztctld");
    Logger::set_journald();

    std::error_code ec;
    const std::string service_path = config.read("service_path", ec);
    if (service_path.empty()) {
        // A file without the key leaves ec clear: the log then shows the no-error text.
        Logger::error(_("Unable to read config file: %s"), ec.message());
        return false;
    }
    Logger::info("%s", _("The configuration file was successfully read"));

    if (check_mode(config, ec)) {
        Logger::error(_("Error: %s"), make_error_code(ztctl_error::hardened_mode).message());
        return false;
    }

    m_credentials = load_credentials(name::service::make_service_path(service_path), ec);
    if (ec) {
        Logger::error(_("Unable to load the service file: %s"), ec.message());
        return false;
    }
    if (m_credentials.second.empty()) {
        Logger::error(_("Unable to load the service file: %s"),
                      make_error_code(ztctl_error::service_file_not_found).message());
        return false;
    }
    Logger::info("%s", _("The service file was successfully read"));

    if (!load_database(name::service::make_database_path(service_path), ec)) {
        Logger::error(_("Unable to load the database file: %s"), ec.message());
        return false;
    }
    Logger::info("%s", _("The database file was successfully read"));

    if (!register_handler(ec)) {
        Logger::error(_("System failure: %s"), ec.message());
        return false;
    }
    Logger::info("%s", _("Initialization succeeded"));
    return true;
}

void Daemon::start() {
    Logger::info("%s", _("Starting the demon"));
    m_server.start();
}

void Daemon::halt() {
    Logger::info("%s", _("Stopping the daemon"));
    if (m_server.connection_count() > 0) {
        std::error_code ec;
        if (!m_server.emit_signal(dbus_iface::signal::shutdown(), ec)) {
            Logger::warning(_("Unable to emit a \"shutdown\" signal: %s"), ec.message());
        }
    }
    m_server.stop();
}

void Daemon::stop() {
    halt();
    std::error_code ec;
    if (!save_database(ec)) {
        Logger::critical(_("Unable to save the database: %s"), ec.message());
    }
}

void Daemon::stop_without_save() {
    halt();
}

bool Daemon::save_database(std::error_code& ec) {
    ec.clear();
    if (!m_database_loaded) {
        // Saving now would replace the stored database with an empty one.
        return true;
    }
    return m_database.save(ec);
}

crypto_factory init_factory(std::error_code& ec) {
    crypto_factory factory;
    if (!factory.initialize(util::get_init_vector())) {
        ec = crypto_error::factory_not_initialized;
        return factory;
    }
    // A vector that never passes the checks is not an error: the factory seeded with the
    // built-in vector stays in use.
    std::error_code random_error;
    std::vector<std::uint8_t> seed = misc::get_random_vector(factory, random_error);
    if (!seed.empty()) {
        factory.initialize(std::move(seed));
    }
    return factory;
}

bool Daemon::load_database(const std::string& path, std::error_code& ec) {
    crypto_factory factory = init_factory(ec);
    if (!factory) {
        if (!ec) {
            ec = crypto_error::factory_not_initialized;
        }
        return false;
    }
    if (!m_database.crypto_service().initialize(factory, ec)) {
        return false;
    }
    if (!m_database.load(path, m_credentials, ec)) {
        return false;
    }
    m_database_loaded = true;
    return true;
}

bool Daemon::register_handler(std::error_code& ec) {
    if (!m_server.connect(DBUS_BUS_SYSTEM, ec)) {
        return false;
    }
    m_server.create_loop();

    ztl::StoreManager& store = m_server.manager();
    store.add("database", m_database);
    store.add("pair", m_credentials);
    store.add("factory", m_database.crypto_service().get_factory());
    store.add("stop", std::make_shared<std::function<void()>>([this] { stop(); }));
    store.add("stop_no_save",
              std::make_shared<std::function<void()>>([this] { stop_without_save(); }));
    // For answers outside the transfer contexts and for the callers' credentials.
    store.add("server", m_server);

    if (!service_handler::register_all(m_server, ec)) {
        return false;
    }
    m_server.setup_connection();
    return true;
}
