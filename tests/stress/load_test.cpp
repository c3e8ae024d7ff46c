// Many honest clients at once against the real daemon, through the client library: status
// queries interleaved with registrations and removals of each client's own users, every
// call answered, and the user list at the end what the successful answers imply. Then many
// idle sessions held open at once, and what each costs the daemon.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <memory>
#include <mutex>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "database/entry_info.h"
#include "database/serializer.h"
#include "handlers/disk.h"
#include "handlers/profile.h"
#include "integration/library_client.h"
#include "testing/host_state.h"
#include "testing/service_fixture.h"
#include "testing/stress_run.h"

namespace {

using namespace std::chrono_literals;
using library_test::bytes;
using library_test::library_client;
using zt_testing::sandbox;
namespace ds = dbus_iface::system;

constexpr const char* kAdminPassword = "load admin";
constexpr unsigned kClients = 32;
constexpr unsigned kUsersPerClient = 2;

using zt_testing::attached_loops;
using zt_testing::long_run;
using zt_testing::resident_bytes;
using zt_testing::run_seed;

std::string user_name(unsigned client, unsigned user) {
    return "ld" + std::to_string(client) + (user == 0 ? "a" : "b");
}

class Load : public zt_testing::service_fixture {
  protected:
    void SetUp() override { set_up_service({{"admin", kAdminPassword}}, {}); }
    void started() override { m_client = std::make_unique<library_client>(*m_box); }

    // The names in the user part of a "GetList" answer.
    std::set<std::string> users(client::session& admin) {
        Serializer lists;
        lists.deserialize(m_client->call(admin, ds::status::get_list(), {}).payload);
        std::set<std::string> names;
        if (lists.size() != 2) {
            ADD_FAILURE() << "GetList answered " << lists.size() << " lists";
            return names;
        }
        Serializer records;
        records.deserialize(lists[0]);
        for (const auto& record : records) {
            EntryInfo info;
            info.deserialize(record);
            names.insert(info.name);
        }
        return names;
    }

    std::unique_ptr<library_client> m_client;
};

// Then, on the restarted daemon: each client's session lives as long as the daemon, so what
// 200 idle ones cost.
TEST_F(Load, ThirtyTwoClientsInterleavingCallsAreAllAnsweredAndTwoHundredIdleSessionsHeld) {
    const unsigned requests = long_run() ? 1000 : 100;
    const std::uint64_t seed = run_seed();
    std::cout << "load seed " << seed << " (ZT_STRESS_SEED=" << seed << " repeats it), " << kClients
              << " clients x " << requests << " requests" << std::endl;
    RecordProperty("seed", std::to_string(seed));

    // Key stores once up front (the key derivation is slow); a registration consumes the
    // file it names, so each "Add" writes the prepared bytes again.
    std::vector<std::string> stores(kClients * kUsersPerClient);
    for (unsigned c = 0; c < kClients; ++c) {
        for (unsigned u = 0; u < kUsersPerClient; ++u) {
            const std::string name = user_name(c, u);
            m_box->add_account(name);
            const std::string path = "/run/ks/prepared-" + name;
            ASSERT_NO_FATAL_FAILURE(m_client->write_keystore(path, name + " pw"));
            stores[c * kUsersPerClient + u] = *m_box->read_file(path);
        }
    }
    std::vector<std::unique_ptr<client::session>> sessions;
    for (unsigned c = 0; c < kClients; ++c) {
        sessions.push_back(m_client->open("admin", kAdminPassword));
        ASSERT_EQ(sessions.back()->current(), client::session::state::secure);
    }

    std::atomic<std::uint64_t> calls{0}, unanswered{0}, adds{0}, removes{0}, queries{0};
    std::mutex registered_lock;
    std::set<std::string> registered;  // what the successful answers imply
    const auto started = std::chrono::steady_clock::now();
    std::vector<std::thread> threads;
    for (unsigned c = 0; c < kClients; ++c) {
        threads.emplace_back([&, c] {
            std::mt19937_64 rng(seed + c);
            client::session& s = *sessions[c];
            bool mine[kUsersPerClient] = {};
            for (unsigned i = 0; i < requests; ++i) {
                const unsigned kind = static_cast<unsigned>(rng() % 4);
                client::service_reply reply;
                std::error_code ec;
                calls++;
                if (kind < 2) {
                    queries++;
                    const bool read = kind == 0 ? s.call(ds::status::get_info(), {}, reply, ec)
                                                : s.call(ds::status::get_list(), {}, reply, ec);
                    if (!read || reply.error()) {
                        unanswered++;
                        ADD_FAILURE() << "client " << c << " query: " << ec.message() << " "
                                      << reply.error().message();
                    }
                    continue;
                }
                const unsigned u = kind - 2;
                const std::string name = user_name(c, u);
                if (!mine[u]) {
                    adds++;
                    const std::string path = "/run/ks/" + name;
                    m_box->write_file(path, stores[c * kUsersPerClient + u], 0600);
                    if (!s.call(ds::user_manage::admin::add(),
                                Container::Profile(name, path).serialize(), reply, ec)) {
                        unanswered++;
                        ADD_FAILURE() << "Add " << name << ": " << ec.message();
                        continue;
                    }
                } else {
                    removes++;
                    if (!s.call(ds::user_manage::admin::remove(),
                                Container::Profile(name, "").serialize(), reply, ec)) {
                        unanswered++;
                        ADD_FAILURE() << "Remove " << name << ": " << ec.message();
                        continue;
                    }
                }
                EXPECT_FALSE(reply.error())
                    << (mine[u] ? "Remove " : "Add ") << name << ": " << reply.error().message();
                if (!reply.error()) {
                    mine[u] = !mine[u];
                    const std::lock_guard<std::mutex> hold(registered_lock);
                    if (mine[u]) {
                        registered.insert(name);
                    } else {
                        registered.erase(name);
                    }
                }
            }
        });
    }
    for (auto& t : threads) {
        t.join();
    }
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    std::cout << "load: " << calls << " calls (" << queries << " queries, " << adds << " Add, "
              << removes << " Remove) in " << seconds << " s, " << unanswered << " unanswered"
              << std::endl;
    RecordProperty("seconds", std::to_string(seconds));

    EXPECT_EQ(unanswered.load(), 0u);
    EXPECT_EQ(calls.load(), std::uint64_t{kClients} * requests);
    EXPECT_EQ(users(*sessions[0]), registered);
    // And so it stays across a stop and a start.
    client::service_reply reply;
    std::error_code ec;
    ASSERT_TRUE(sessions[0]->call(ds::control::stop(), {}, reply, ec)) << ec.message();
    sessions.clear();
    ASSERT_TRUE(m_daemon.wait(30s));
    ASSERT_NO_FATAL_FAILURE(start());
    auto admin = m_client->open("admin", kAdminPassword);
    EXPECT_EQ(users(*admin), registered);

    constexpr unsigned kIdle = 200;
    // A first session so that what every session shares is counted before.
    std::vector<std::unique_ptr<client::session>> idle;
    const auto open_one = [&] {
        auto s = std::make_unique<client::session>(m_client->options());
        EXPECT_TRUE(s->connect(ec) && s->open_clear(ec)) << ec.message();
        idle.push_back(std::move(s));
    };
    open_one();
    const std::uint64_t before = resident_bytes(m_daemon.pid());
    ASSERT_GT(before, 0u);
    for (unsigned i = 0; i < kIdle; ++i) {
        open_one();
    }
    const std::uint64_t after = resident_bytes(m_daemon.pid());
    // Every one of them still answers.
    unsigned answered = 0;
    for (auto& s : idle) {
        answered += s->call(ds::service::get_public_key(), {}, reply, ec) && !reply.error();
    }
    EXPECT_EQ(answered, kIdle + 1);
    const double per_session = (static_cast<double>(after) - static_cast<double>(before)) / kIdle;
    std::cout << "idle: " << kIdle << " sessions, VmRSS " << before << " -> " << after << " bytes, "
              << per_session << " bytes per session" << std::endl;
    RecordProperty("bytes_per_session", std::to_string(per_session));
}

// Users mounting and unmounting their own disks at once: real loop devices, the driver
// stand-in and real mounts inside the sandbox.
class DiskLoad : public zt_testing::service_fixture {
  protected:
    static constexpr unsigned kUsers = 8;

    void SetUp() override {
        m_loops_before = attached_loops();
        ASSERT_NO_FATAL_FAILURE(
            set_up_service({{"admin", kAdminPassword}}, {}, {.with_cryx = true}));
        if (!IsSkipped()) {
            m_box->write_file("/run/disks/.keep", "");
        }
    }
    void started() override { m_client = std::make_unique<library_client>(*m_box); }

    void TearDown() override {
        m_client.reset();
        service_fixture::TearDown();
        m_box.reset();
        // Other tests on this machine may attach loop devices meanwhile: what counts are
        // devices over this sandbox's container files (a driver device left behind keeps its
        // container's loop device too).
        std::string left;
        std::istringstream after(attached_loops());
        for (std::string line; std::getline(after, line);) {
            for (const std::string& dev : m_devices) {
                if (m_loops_before.find(line) == std::string::npos &&
                    line.find("[" + dev + "]:") != std::string::npos) {
                    left += line + "\n";
                }
            }
        }
        EXPECT_EQ(left, "");
    }

    // Notes the device of the file system that holds this sandbox's container files.
    void note_devices() {
        struct stat st {};
        ASSERT_EQ(::stat(m_box->host_path("/run/disks").c_str(), &st), 0);
        char dev[32];
        std::snprintf(dev, sizeof dev, "%04llx", static_cast<unsigned long long>(st.st_dev));
        m_devices.emplace_back(dev);
    }

    std::string mounts() {
        std::ifstream in("/proc/" + std::to_string(m_daemon.pid()) + "/mountinfo");
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }

    std::unique_ptr<library_client> m_client;
    std::string m_loops_before;
    std::vector<std::string> m_devices;
};

TEST_F(DiskLoad, EightUsersMountAndUnmountTheirDisksAtOnceAndLeaveNothingAttached) {
    const unsigned cycles = long_run() ? 100 : 10;
    auto admin = m_client->open("admin", kAdminPassword);
    std::vector<std::string> names;
    std::vector<bytes> keys;
    std::vector<std::unique_ptr<client::session>> own;
    for (unsigned u = 0; u < kUsers; ++u) {
        const std::string name = "dk" + std::to_string(u);
        const std::string pw = name + " pw";
        m_box->add_account(name);
        ASSERT_NO_FATAL_FAILURE(m_client->write_keystore("/run/ks/" + name, pw));
        ASSERT_EQ(m_client->add(*admin, name, "/run/ks/" + name), 0);
        ASSERT_EQ(m_client
                      ->call(*admin, ds::disk_manage::admin::create(),
                             Container::Disk(name, "/run/disks/" + name + ".img", "ext4", 32u << 20)
                                 .serialize())
                      .error()
                      .value(),
                  0);
        own.push_back(m_client->open(name, pw));
        keys.push_back(m_client->disk_key(*own.back(), name, pw));
        ASSERT_EQ(keys.back().size(), 32u);
        names.push_back(name);
    }

    ASSERT_NO_FATAL_FAILURE(note_devices());
    std::atomic<std::uint64_t> calls{0}, failed{0};
    const auto started = std::chrono::steady_clock::now();
    std::vector<std::thread> threads;
    for (unsigned u = 0; u < kUsers; ++u) {
        threads.emplace_back([&, u] {
            client::session& s = *own[u];
            const auto value = [&](dbus_iface::iface&& method, const bytes& body) {
                client::service_reply reply;
                std::error_code ec;
                calls++;
                if (!s.call(std::move(method), body, reply, ec)) {
                    failed++;
                    ADD_FAILURE() << names[u] << ": " << ec.message();
                    return -1;
                }
                return reply.error().value();
            };
            for (unsigned i = 0; i < cycles; ++i) {
                EXPECT_EQ(value(ds::disk_manage::user::mount(), keys[u]), 0)
                    << names[u] << " " << i;
                EXPECT_EQ(value(ds::disk_manage::user::get_status(), {}), 0) << names[u];
                EXPECT_EQ(value(ds::disk_manage::user::unmount(), {}), 0) << names[u] << " " << i;
            }
        });
    }
    for (auto& t : threads) {
        t.join();
    }
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    std::cout << "disks: " << kUsers << " users x " << cycles << " mount/status/unmount cycles, "
              << calls << " calls in " << seconds << " s, " << failed << " unanswered" << std::endl;
    EXPECT_EQ(failed.load(), 0u);
    EXPECT_EQ(mounts().find(" /zt/dk"), std::string::npos) << mounts();
    // No driver device is left in the sandbox's /dev.
    std::vector<std::string> nodes;
    for (const auto& e : std::filesystem::directory_iterator(m_box->host_path("/dev"))) {
        if (e.path().filename().string().rfind("cryx", 0) == 0 &&
            e.path().filename() != "cryx-control") {
            nodes.push_back(e.path().filename());
        }
    }
    EXPECT_EQ(nodes, std::vector<std::string>{});
}

}  // namespace
