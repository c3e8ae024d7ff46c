#pragma once

#include <string>
#include <system_error>

#include "daemon/credentials.h"
#include "database/database.h"
#include "dbus/dbus_server.h"

// The one service object of the process: brings the service up in a fixed order, runs its
// main loop and ends it. Initialized and started once per process.
class Daemon {
  public:
    // Names the bus server "ru.quorvex.server"; touches nothing outside the object: no
    // file, no bus.
    Daemon();
    // Stops the bus server if it still runs and wipes the credentials; never saves.
    ~Daemon();

    Daemon(const Daemon&) = delete;
    Daemon& operator=(const Daemon&) = delete;

    // Configuration, logging, kernel check, credentials, database, bus registration, in
    // this order. Each failing step logs one error and returns false; nothing is retried.
    bool initialize();

    // Logs the start and runs the main loop until a stop.
    void start();

    // Tells the clients ("Shutdown", when any client has a session), ends the loop, drops
    // the bus connection and saves the database. A database that was never loaded is not
    // saved, so a stop during start-up cannot replace the stored file.
    void stop();

    // Ends the loop without saving (the state files are being removed).
    void stop_without_save();

    // Seeds the crypto provider, unlocks the database cipher with the credentials and
    // loads the database file at path.
    bool load_database(const std::string& path, std::error_code& ec);

    // Connects to the system bus, takes the service name, creates the loop, fills the object
    // store, binds every method and attaches the connection to the main context.
    bool register_handler(std::error_code& ec);

    // The credentials read from "service.bin"; empty until initialize reads them.
    const service_credentials& credentials() const noexcept { return m_credentials; }

  private:
    // The steps shared by both stops: log, tell the clients, end the loop.
    void halt();

    // Writes the loaded database back; does nothing when none was loaded.
    bool save_database(std::error_code& ec);

    DbusServer m_server;
    Database m_database;
    bool m_database_loaded = false;
    service_credentials m_credentials;
};

// Creates the crypto provider handle used by the database cipher, seeded with the built-in
// vector and then, when one passes the random checks, with a fresh random vector. The
// handle is returned either way; it tests false when the provider could not be set up.
crypto_factory init_factory(std::error_code& ec);
