// Ending the real daemon: "Stop" and "Deinit" by root, both refused to other users, and a
// SIGTERM that arrives while the daemon is still starting.

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <optional>
#include <string>

#include "daemon/credentials.h"
#include "daemon/daemon.h"
#include "database/database.h"
#include "service_client.h"
#include "testing/account_process.h"

namespace service_test {
namespace {

constexpr uid_t kNobody = 65534;
constexpr const char* kInsideAddress = "unix:path=/run/dbus/system_bus_socket";

class Control : public ServiceTest {
  protected:
    // The body of the database file at path inside, as the daemon would load it; nothing
    // when it does not load.
    std::optional<bytes> database_content() {
        const auto service = m_box->read_file(kServiceFile);
        if (!service) {
            return std::nullopt;
        }
        const auto credentials = split_credentials(bytes(service->begin(), service->end()));
        std::error_code ec;
        crypto_factory factory = init_factory(ec);
        Database database;
        if (!database.crypto_service().initialize(factory, ec) ||
            !database.load(m_box->host_path(kDatabaseFile), credentials, ec)) {
            return std::nullopt;
        }
        return database.serialize();
    }

    // Ends the daemon's run: its exit status is 0 and its pid file is gone.
    void expect_clean_exit() {
        EXPECT_EQ(wait_for_exit(m_daemon), 0);
        EXPECT_FALSE(m_box->exists(kPidFile));
    }
};

// The bus policy lets every local user call the service; the service itself stops and wipes
// only for root, whatever a session without an administrator's handshake sent before. Then
// root's "Stop" answers before the "Shutdown" signal and saves the database.
TEST_F(Control, OnlyRootStopsOrWipesAndItsStopAnswersBeforeShutdownAndSaves) {
    const auto before = database_content();
    ASSERT_TRUE(before);
    const auto drain = [&] { m_box->journal().entries_of("ztctld"); };
    EXPECT_EQ(zt_testing::run_as(
                  *m_box, kNobody,
                  [] {
                      client c(zt_testing::open_bus(kInsideAddress));
                      // Without a transfer context the refusal is a bus error with its text.
                      const reply early = c.call_once(ds::control::stop(), {2, 16});
                      if (early.message != "Session is not open or unsafe") {
                          return 1;
                      }
                      if (c.call_words(ds::session::open(), {4, 4}) != words{4, 64, 1}) {
                          return 2;
                      }
                      const auto refused = [&](const dbus_iface::iface& to) {
                          const reply r = c.call(to, {2, 16}, bytes{});
                          return r.values == words{2, 128} &&
                                 reply_builder(r.data).error().value() == 8192;
                      };
                      return refused(ds::control::stop()) && refused(ds::applied::deinit()) ? 0 : 3;
                  },
                  drain, 60s),
              0);
    EXPECT_TRUE(logged("4", "Unable to stop: Session is not open or unsafe"));
    EXPECT_TRUE(logged("4", "Unable to deinit: Session is not open or unsafe"));

    // Each row on a session of its own: a step of the handshake, then the call that ends the
    // service, refused as a D-Bus error or as a reply that is an error.
    const ds::session::open open;
    const ds::session::apply_private apply_private;
    const struct {
        const char* name;
        const dbus_iface::iface* step;
        words values;
        bool deinit;
    } rows[] = {
        {"Deinit on a fresh session", nullptr, {}, true},
        {"Stop on a fresh session", nullptr, {}, false},
        {"Deinit after Open (4, 4)", &open, {4, 4}, true},
        {"Stop after Open (4, 4)", &open, {4, 4}, false},
        {"Deinit after SetPrivateParameter (5, 1)", &apply_private, {5, 1}, true},
        {"Stop after SetPrivateParameter (5, 1)", &apply_private, {5, 1}, false},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.name);
        EXPECT_EQ(zt_testing::run_as(
                      *m_box, kNobody,
                      [&] {
                          client c(zt_testing::open_bus(kInsideAddress));
                          if (r.step != nullptr) {
                              c.call(*r.step, r.values);
                          }
                          const reply got =
                              r.deinit ? c.call(ds::applied::deinit(), {2, 16}, bytes(44, 7))
                                       : c.call(ds::control::stop(), {2, 16}, bytes(44, 7));
                          return got.answered && (!got.error.empty() ||
                                                  reply_builder(got.data).error().value() != 0)
                                     ? 0
                                     : 1;
                      },
                      drain, 60s),
                  0)
            << "the call was not refused";
        ASSERT_TRUE(m_daemon.running());
        EXPECT_TRUE(m_box->exists(kServiceFile));
    }
    EXPECT_EQ(database_content(), before);

    client c = connect();
    ASSERT_EQ(c.call_words(ds::session::open(), {4, 4}), (words{4, 64, 1}));
    dbus_bus_add_match(c.connection(), "type='signal',interface='ru.quorvex.signal.action'",
                       nullptr);

    zt_testing::message_ptr stop(dbus_message_new_method_call(
        "ru.quorvex.server", "/ru/quorvex/system/control", "ru.quorvex.system.control", "Stop"));
    const dbus_uint32_t h = 2, m = 16;
    dbus_message_append_args(stop.get(), DBUS_TYPE_UINT32, &h, DBUS_TYPE_UINT32, &m,
                             DBUS_TYPE_INVALID);
    dbus_connection_send(c.connection(), stop.get(), nullptr);
    std::vector<std::string> arrived;  // in order: "return" or the signal's member
    bytes answer;
    zt_testing::wait_until(
        [&] {
            m_box->journal().entries_of("ztctld");
            dbus_connection_read_write(c.connection(), 10);
            while (zt_testing::message_ptr in{dbus_connection_pop_message(c.connection())}) {
                if (dbus_message_get_type(in.get()) == DBUS_MESSAGE_TYPE_METHOD_RETURN) {
                    arrived.push_back("return");
                    answer = client::read(in.get()).data;
                } else if (dbus_message_get_type(in.get()) == DBUS_MESSAGE_TYPE_SIGNAL &&
                           dbus_message_get_member(in.get()) == std::string("Shutdown")) {
                    arrived.push_back("Shutdown");
                }
            }
            return arrived.size() >= 2;
        },
        20s);
    EXPECT_EQ(arrived, (std::vector<std::string>{"return", "Shutdown"}));
    EXPECT_EQ(answer, reply_builder::success());
    expect_clean_exit();
    EXPECT_EQ(database_content(), before);
    EXPECT_TRUE(logged("6", "The request was processed: Stop"));
}

// "Deinit" on an encrypted session; each row prepares the service directory first.
TEST_F(Control, DeinitRemovesTheStateFilesAndStopsWithoutSaving) {
    struct row {
        bool database_present;
        std::int32_t error;  // of the reply
        bool service_file_kept;
    };
    const row rows[] = {{true, 0, false}, {false, ENOENT, true}};
    for (const row& r : rows) {
        SCOPED_TRACE(r.database_present ? "both files" : "database already gone");
        if (&r != rows) {
            SetUp();  // a fresh sandbox and daemon per row
        }
        if (!r.database_present) {
            std::filesystem::remove(m_box->host_path(kDatabaseFile));
        }
        client c = connect();
        ASSERT_TRUE(c.secure(true, m_token)) << c.failed_step();
        const packet answer = c.secure_request(ds::applied::deinit(), {});
        EXPECT_EQ(std::tuple(answer.header, answer.metadata), std::tuple(1u, 128u));
        const reply_builder decoded(answer.data);
        EXPECT_EQ(decoded.status().value(), r.error == 0 ? 0u : 255u);
        EXPECT_EQ(decoded.error().value(), r.error);

        expect_clean_exit();
        EXPECT_FALSE(m_box->exists(kDatabaseFile));  // and not written back by a save
        EXPECT_EQ(m_box->exists(kServiceFile), r.service_file_kept);
        EXPECT_FALSE(logged("4", "Unable to save the database: No such file or directory"));
    }
}

// SIGTERM while the daemon is blocked reading its service file is kept until the main loop
// runs, and then stops the fully started daemon the ordinary way.
TEST_F(Control, SigtermDuringStartupStopsTheDaemonOnceItRuns) {
    m_daemon.signal(SIGTERM);
    expect_clean_exit();
    const auto service = m_box->read_file(kServiceFile);
    ASSERT_TRUE(service);
    m_box->make_fifo(kServiceFile);
    m_daemon = m_box->start_daemon();
    ASSERT_TRUE(zt_testing::wait_until([&] { return m_box->exists(kPidFile); }, 20s));
    m_daemon.signal(SIGTERM);
    m_box->write_file(kServiceFile, *service, 0600);
    expect_clean_exit();

    std::vector<std::string> messages;
    for (const auto& [priority, message] : logged()) {
        messages.push_back(message);
    }
    const std::vector<std::string> ending = {"Initialization succeeded", "Starting the demon",
                                             "Stopping the daemon"};
    ASSERT_GE(messages.size(), ending.size());
    EXPECT_EQ(std::vector<std::string>(messages.end() - 3, messages.end()), ending);
}

}  // namespace
}  // namespace service_test
