#include "daemon/daemon.h"

#include "config/config_manager.h"
#include "crypto/crypto_error.h"
#include "crypto/genrand.h"
#include "daemon/hardened_mode.h"
#include "daemon/service_paths.h"
#include "daemon/ztctl_error.h"
#include "foundation/i18n.h"
#include "logging/logger.h"
#include "system/init_vector.h"
#include "system/wipe.h"

using ztl::Logger;

Daemon::~Daemon() {
    m_loop.stop();
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
    m_loop.run();
}

void Daemon::halt() {
    Logger::info("%s", _("Stopping the daemon"));
    // No client can have a session before the bus server exists, so there is nobody to
    // send "Shutdown" to yet.
    m_loop.stop();
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
    // The bus server is not part of this build yet.
    ec = std::make_error_code(std::errc::function_not_supported);
    return false;
}
