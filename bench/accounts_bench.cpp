// Accounts on the daemon: "GetList" with 1 000 and 10 000 registered users beside the raw
// echo of a byte array of the reply's size on the same bus, the daemon's peak memory while
// it answers, and a registration ("Add") split into the client's key store, the daemon's
// work and the database save.
//
//   build/bench/accounts_bench [--benchmark_filter=...]
//
// The users are written straight into the database before the daemon starts (see
// user_database.h). The direct saves go to $ZT_BENCH_DIR (default /var/tmp) and to
// /dev/shm. Needs root and mount namespaces (the sandbox of testing/); elsewhere it says
// why and exits with 0 without measuring anything.

#include <benchmark/benchmark.h>
#include <dbus/dbus.h>
#include <malloc.h>
#include <sys/types.h>
#include <sys/vfs.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <string>
#include <system_error>
#include <vector>

#include "bench/echo_service.h"
#include "bench/user_database.h"
#include "client/keystore.h"
#include "client/reply.h"
#include "client/session.h"
#include "database/database_file.h"
#include "database/serializer.h"
#include "dbus/dbus_iface.h"
#include "dbus/reply_builder.h"
#include "handlers/profile.h"
#include "session/packet.h"
#include "testing/private_bus.h"
#include "testing/process.h"
#include "testing/sandbox.h"

namespace {

using namespace std::chrono_literals;
using bench_accounts::bytes;
using steady = std::chrono::steady_clock;
namespace ds = dbus_iface::system;

constexpr const char* kAdmin = "admin";
constexpr const char* kAdminPassword = "secret";
const std::wstring kAdminPasswordWide = L"secret";
constexpr const char* kEchoPolicyFile = "/etc/dbus-1/system.d/ru.quorvex.bench.echo.conf";
const std::string kDatabase = std::string(zt_testing::sandbox::service_dir) + "/database.bin";
// The user counts of the databases the daemon is started with.
constexpr std::size_t kSmall = 1000;
constexpr std::size_t kLarge = 10000;
// Block size of the session cipher (AES): a sealed packet is rounded up to it.
constexpr std::size_t kCipherBlock = 16;
// The password of every account registered by the benchmark.
const std::wstring kUserPassword = L"password of a new user";

double seconds(steady::duration d) {
    return std::chrono::duration<double>(d).count();
}

// Nanoseconds all threads of pid have run on a CPU (the scheduler's own account, finer
// than the clock ticks of /proc/<pid>/stat), or -1 when it cannot be read.
double cpu_ns(pid_t pid) {
    double total = 0;
    std::error_code ec;
    const std::string tasks = "/proc/" + std::to_string(pid) + "/task";
    for (const auto& task : std::filesystem::directory_iterator(tasks, ec)) {
        std::ifstream in(task.path() / "schedstat");
        double ns = 0;
        if (!(in >> ns)) {
            return -1;
        }
        total += ns;
    }
    return ec ? -1 : total;
}

// CPU time of the calling thread in nanoseconds.
double thread_cpu_ns() {
    timespec now{};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) * 1e9 + static_cast<double>(now.tv_nsec);
}

// Minor page faults of pid so far (field 10 of its stat line), or -1.
double minor_faults(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    if (!std::getline(in, line)) {
        return -1;
    }
    // The command name may hold spaces and parentheses: fields count from its end.
    const auto close = line.rfind(')');
    if (close == std::string::npos) {
        return -1;
    }
    std::istringstream fields(line.substr(close + 2));
    std::string field;
    for (int i = 3; i <= 10 && fields >> field; ++i) {
        if (i == 10) {
            return std::stod(field);
        }
    }
    return -1;
}

// A "Vm..." line of /proc/<pid>/status in bytes, or -1 when it cannot be read.
std::int64_t status_bytes(pid_t pid, const std::string& field) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(in, line);) {
        if (line.rfind(field + ":", 0) == 0) {
            return std::stoll(line.substr(field.size() + 1)) * 1024;  // the kernel writes kB
        }
    }
    return -1;
}

// Sets the peak resident size (VmHWM) of pid back to its current resident size.
bool reset_peak(pid_t pid) {
    std::ofstream out("/proc/" + std::to_string(pid) + "/clear_refs");
    return static_cast<bool>(out << "5" << std::flush);
}

// The byte array the daemon sends as the answer of a request whose reply carries payload:
// the success reply record in a long packet, sealed to whole cipher blocks.
std::size_t sealed_reply_size(const bytes& payload) {
    const bytes record = reply_builder(reply_status_code::success, bytes(payload)).obtain();
    const std::size_t flat = serialize(transfer_protocol_header::secure_transfer,
                                       transfer_protocol_phase::response, record)
                                 .size();
    return (flat + kCipherBlock - 1) / kCipherBlock * kCipherBlock;
}

std::string as_string(const bytes& b) {
    return std::string(b.begin(), b.end());
}

// The sandbox with its private bus and the echo service for the whole run, the database
// images of kSmall and kLarge users, and the daemon started on one of them.
class accounts_environment {
  public:
    accounts_environment() {
        m_box.provision_with_tool({{kAdmin, kAdminPassword}});
        m_box.write_file(kEchoPolicyFile, bench_bus::echo_policy());
        const auto service =
            m_box.read_file(std::string(zt_testing::sandbox::service_dir) + "/service.bin");
        if (!service) {
            throw std::runtime_error("no service.bin after provisioning");
        }
        m_service_file.assign(service->begin(), service->end());

        const auto t0 = steady::now();
        std::vector<bytes> images;
        std::error_code ec;
        if (!bench_accounts::grow_database(m_box.host_path(kDatabase), m_service_file,
                                           {kSmall, kLarge}, images, ec)) {
            throw std::runtime_error("cannot build the user databases: " + ec.message());
        }
        std::fprintf(stderr, "accounts_bench: %zu users written in %.1f s\n", kLarge,
                     seconds(steady::now() - t0));
        m_images[kSmall] = std::move(images[0]);
        m_images[kLarge] = std::move(images[1]);

        // Taking the name succeeds only once the bus has reloaded its policy directory.
        m_echo = std::make_unique<bench_bus::echo_service>(m_box.bus_address(), 30s);
        m_echo_client = zt_testing::open_bus(m_box.bus_address());
        m_pinned_keys = m_box.host_path("/etc/ztctl/service.pub");
        // The client library connects to the system bus named here.
        setenv("DBUS_SYSTEM_BUS_ADDRESS", m_box.bus_address().c_str(), 1);
    }

    ~accounts_environment() {
        m_echo_client.reset();
        m_echo.reset();
        stop_daemon();
        unsetenv("DBUS_SYSTEM_BUS_ADDRESS");
    }

    accounts_environment(const accounts_environment&) = delete;
    accounts_environment& operator=(const accounts_environment&) = delete;

    // Makes sure the daemon runs on the database of users as built: started anew when fresh
    // is asked for, when it runs on another database, or when requests have changed it.
    void run_daemon(std::size_t users, bool fresh) {
        if (m_daemon.running() && m_users == users && !m_changed && !fresh) {
            return;
        }
        stop_daemon();
        m_box.write_file(kDatabase, as_string(m_images.at(users)), 0600);
        m_daemon = m_box.start_daemon();
        if (!m_box.wait_for_name(client::kServiceName, m_daemon, 30s)) {
            throw std::runtime_error("the daemon did not take its name");
        }
        m_users = users;
        m_changed = false;
        std::fprintf(stderr, "accounts_bench: daemon pid %d on %zu users\n", m_daemon.pid(), users);
    }
    // The daemon's database no longer is the image it started with.
    void changed() { m_changed = true; }
    // Stops the daemon; false when a daemon this run started died or did not stop cleanly.
    bool shut_down() {
        stop_daemon();
        return m_survived;
    }

    pid_t daemon_pid() const { return m_daemon.pid(); }
    DBusConnection* echo_client() const { return m_echo_client.get(); }
    zt_testing::sandbox& box() { return m_box; }
    const bytes& service_file() const { return m_service_file; }
    const bytes& image(std::size_t users) const { return m_images.at(users); }

    // An encrypted session of the administrator; null with ec on failure.
    std::unique_ptr<client::session> admin_session(std::error_code& ec) const {
        auto s = std::make_unique<client::session>(
            client::session_options{.sequence = client::handshake_sequence::plain,
                                    .timeout_ms = 60000,
                                    .service_keys_path = m_pinned_keys});
        if (!s->connect(ec) || !s->open_secure(kAdmin, kAdminPasswordWide, ec)) {
            return nullptr;
        }
        return s;
    }

  private:
    // Stops the daemon as an administrator would (SIGTERM; it saves on the way out).
    void stop_daemon() {
        if (m_daemon.pid() <= 0) {
            return;
        }
        if (!m_daemon.running()) {
            m_survived = false;
            std::fprintf(stderr, "accounts_bench: the daemon had died\n");
            m_daemon = {};
            return;
        }
        m_daemon.signal(SIGTERM);
        const auto status = m_daemon.wait(60s);
        if (!status || !WIFEXITED(*status) || WEXITSTATUS(*status) != 0) {
            m_survived = false;
            std::fprintf(stderr, "accounts_bench: the daemon did not stop cleanly\n");
        }
        m_daemon = {};
    }

    zt_testing::sandbox m_box;
    zt_testing::child_process m_daemon;
    std::size_t m_users = 0;
    bool m_changed = false;
    bool m_survived = true;
    bytes m_service_file;
    std::map<std::size_t, bytes> m_images;
    std::unique_ptr<bench_bus::echo_service> m_echo;
    zt_testing::connection_ptr m_echo_client;
    std::string m_pinned_keys;
};

std::unique_ptr<accounts_environment> g_env;

void fail(benchmark::State& state, const std::string& what, const std::error_code& ec = {}) {
    const std::string text =
        ec ? what + ": " + ec.message() + " (" + ec.category().name() + ")" : what;
    state.SkipWithError(text.c_str());
}

// One request on s whose reply must be a success; its payload goes to payload when given.
bool call_ok(client::session& s, dbus_iface::iface&& method, const bytes& body, std::error_code& ec,
             bytes* payload = nullptr) {
    client::service_reply reply;
    if (!s.call(std::move(method), body, reply, ec)) {
        return false;
    }
    if ((ec = reply.error())) {
        return false;
    }
    if (payload != nullptr) {
        *payload = std::move(reply.payload);
    }
    return true;
}

// "GetList" once, checked: the first list holds users entries, the second one the
// administrator. payload receives the reply's payload.
bool checked_list(client::session& s, std::size_t users, bytes& payload, std::string& why) {
    std::error_code ec;
    if (!call_ok(s, ds::status::get_list(), {}, ec, &payload)) {
        why = "GetList: " + ec.message();
        return false;
    }
    Serializer lists;
    lists.deserialize(payload);
    Serializer user_list;
    Serializer admin_list;
    if (lists.size() == 2) {
        user_list.deserialize(lists[0]);
        admin_list.deserialize(lists[1]);
    }
    if (user_list.size() != users || admin_list.size() != 1) {
        why = "GetList answered " + std::to_string(user_list.size()) + " users and " +
              std::to_string(admin_list.size()) + " administrators";
        return false;
    }
    return true;
}

// "GetList" by the administrator beside the echo of as many bytes as its sealed reply,
// alternating call by call on the same bus, and beside a 64-byte echo: the echo carries
// its array both ways, the request only one way, so the mean of the two echoes estimates
// a round trip that carries the array one way.
void BM_GetListVsEcho(benchmark::State& state) {
    const auto users = static_cast<std::size_t>(state.range(0));
    g_env->run_daemon(users, false);
    std::error_code ec;
    const auto admin = g_env->admin_session(ec);
    if (!admin) {
        return fail(state, "session setup", ec);
    }
    bytes payload;
    std::string why;
    if (!checked_list(*admin, users, payload, why)) {
        return fail(state, why);
    }
    const bytes same_size(sealed_reply_size(payload), 0xA5);
    const bytes small(64, 0x5A);
    steady::duration list{};
    steady::duration echo{};
    steady::duration echo_small{};
    const double cpu_before = cpu_ns(g_env->daemon_pid());
    for (auto _ : state) {
        const auto t0 = steady::now();
        if (!bench_bus::echo_call(g_env->echo_client(), same_size, 60000)) {
            return fail(state, "echo");
        }
        const auto t1 = steady::now();
        if (!call_ok(*admin, ds::status::get_list(), {}, ec)) {
            return fail(state, "GetList", ec);
        }
        const auto t2 = steady::now();
        if (!bench_bus::echo_call(g_env->echo_client(), small)) {
            return fail(state, "echo");
        }
        const auto t3 = steady::now();
        list += t2 - t1;
        echo += t1 - t0;
        echo_small += t3 - t2;
    }
    const double cpu_after = cpu_ns(g_env->daemon_pid());
    const auto n = static_cast<double>(state.iterations());
    state.counters["getlist_ms"] = seconds(list) * 1e3 / n;
    state.counters["echo_ms"] = seconds(echo) * 1e3 / n;
    state.counters["getlist_vs_echo"] = seconds(list) / seconds(echo);
    state.counters["echo64_ms"] = seconds(echo_small) * 1e3 / n;
    state.counters["getlist_vs_one_way"] =
        seconds(list) / ((seconds(echo) + seconds(echo_small)) / 2);
    if (cpu_before >= 0 && cpu_after >= 0) {
        state.counters["daemon_cpu_ms"] = (cpu_after - cpu_before) / 1e6 / n;
    }
    state.counters["reply_bytes"] = static_cast<double>(same_size.size());
    state.counters["payload_bytes"] = static_cast<double>(payload.size());
}
BENCHMARK(BM_GetListVsEcho)
    ->ArgName("users")
    ->Arg(kSmall)
    ->Arg(kLarge)
    ->MinTime(3.0)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

// The daemon's peak resident memory above its idle size while it answers "GetList", on a
// daemon started for the run: first for the first request after the session setup (the
// heap has not yet grown for a reply this size), then over 20 further requests.
void BM_GetListPeakMemory(benchmark::State& state) {
    const auto users = static_cast<std::size_t>(state.range(0));
    for (auto _ : state) {
        g_env->run_daemon(users, true);
        const pid_t pid = g_env->daemon_pid();
        std::error_code ec;
        const auto admin = g_env->admin_session(ec);
        if (!admin) {
            return fail(state, "session setup", ec);
        }
        // Without the reset the peak would be the load's; it is then measured above the
        // idle size all the same and reported as not reset.
        const bool reset = reset_peak(pid);
        const std::int64_t idle = status_bytes(pid, "VmRSS");
        bytes payload;
        std::string why;
        if (!checked_list(*admin, users, payload, why)) {
            return fail(state, why);
        }
        const std::int64_t first_peak = status_bytes(pid, "VmHWM");
        const std::int64_t after_first = status_bytes(pid, "VmRSS");
        const bool reset_again = reset_peak(pid);
        const std::int64_t idle_again = status_bytes(pid, "VmRSS");
        for (int i = 0; i < 20; ++i) {
            if (!call_ok(*admin, ds::status::get_list(), {}, ec)) {
                return fail(state, "GetList", ec);
            }
        }
        const std::int64_t steady_peak = status_bytes(pid, "VmHWM");
        if (idle < 0 || first_peak < 0 || after_first < 0 || idle_again < 0 || steady_peak < 0) {
            return fail(state, "cannot read the daemon's VmRSS and VmHWM");
        }
        const double reply = static_cast<double>(sealed_reply_size(payload));
        state.counters["reply_KiB"] = reply / 1024;
        state.counters["idle_KiB"] = static_cast<double>(idle) / 1024;
        state.counters["first_peak_KiB"] = static_cast<double>(first_peak - idle) / 1024;
        state.counters["first_peak_x_reply"] = static_cast<double>(first_peak - idle) / reply;
        state.counters["kept_KiB"] = static_cast<double>(after_first - idle) / 1024;
        state.counters["steady_peak_KiB"] = static_cast<double>(steady_peak - idle_again) / 1024;
        state.counters["steady_peak_x_reply"] =
            static_cast<double>(steady_peak - idle_again) / reply;
        state.counters["peak_reset"] = reset && reset_again ? 1 : 0;
    }
}
BENCHMARK(BM_GetListPeakMemory)
    ->ArgName("users")
    ->Arg(kSmall)
    ->Arg(kLarge)
    ->Iterations(1)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

// One registration of a new system account on the daemon holding kSmall users: the
// client's key store (client::prepare_keystore, 600 000 PBKDF2 iterations), writing it
// where the daemon reads it, and "Add". The daemon's part is the round trip of "Add" less
// that of "GetPublicKey" on the same session (the cheapest request). The sandbox's
// service directory is on tmpfs, where the save's fsync calls return at once. Each user
// is removed again (not timed; the removal is saved with the next registration), so every
// registration saves kSmall + 1 users.
void BM_Registration(benchmark::State& state) {
    g_env->run_daemon(kSmall, false);
    g_env->changed();
    std::error_code ec;
    const auto admin = g_env->admin_session(ec);
    if (!admin) {
        return fail(state, "session setup", ec);
    }
    bytes public_key;
    if (!call_ok(*admin, ds::service::get_public_key(), {}, ec, &public_key)) {
        return fail(state, "GetPublicKey", ec);
    }
    const crypto_factory factory = client::seeded_factory();
    // The key stores of the built users, for comparison with a client's.
    bench_accounts::user_keystore built;
    if (!bench_accounts::make_keystore(factory, public_key, kUserPassword,
                                       bench_accounts::kUserIterations, built, ec)) {
        return fail(state, "make_keystore", ec);
    }
    static int registered = 0;
    steady::duration keystore{};
    steady::duration write{};
    steady::duration add{};
    steady::duration trivial{};
    double daemon_cpu = 0;
    double daemon_faults = 0;
    std::size_t file_size = 0;
    constexpr int kTrivialCalls = 5;
    for (auto _ : state) {
        state.PauseTiming();
        const std::string name = "reg" + std::to_string(++registered);
        const std::string path = "/run/ks/" + name;
        g_env->box().add_account(name);
        state.ResumeTiming();

        const auto t0 = steady::now();
        bytes file;
        if (!client::prepare_keystore(factory, public_key, kUserPassword, file, ec)) {
            return fail(state, "prepare_keystore", ec);
        }
        const auto t1 = steady::now();
        g_env->box().write_file(path, as_string(file), 0600);
        const auto t2 = steady::now();
        for (int i = 0; i < kTrivialCalls; ++i) {
            if (!call_ok(*admin, ds::service::get_public_key(), {}, ec)) {
                return fail(state, "GetPublicKey", ec);
            }
        }
        const auto t3 = steady::now();
        const double cpu_before = cpu_ns(g_env->daemon_pid());
        const double faults_before = minor_faults(g_env->daemon_pid());
        const bytes body = Container::Profile(name, path).serialize();
        if (!call_ok(*admin, ds::user_manage::admin::add(), body, ec)) {
            return fail(state, "Add " + name, ec);
        }
        const auto t4 = steady::now();
        daemon_cpu += cpu_ns(g_env->daemon_pid()) - cpu_before;
        daemon_faults += minor_faults(g_env->daemon_pid()) - faults_before;
        keystore += t1 - t0;
        write += t2 - t1;
        trivial += (t3 - t2) / kTrivialCalls;
        add += t4 - t3;
        file_size = file.size();

        state.PauseTiming();
        if (!call_ok(*admin, ds::user_manage::admin::remove(),
                     Container::Profile(name, "").serialize(), ec)) {
            return fail(state, "Remove " + name, ec);
        }
        state.ResumeTiming();
    }
    const auto n = static_cast<double>(state.iterations());
    state.counters["keystore_ms"] = seconds(keystore) * 1e3 / n;
    state.counters["keystore_write_ms"] = seconds(write) * 1e3 / n;
    state.counters["add_ms"] = seconds(add) * 1e3 / n;
    state.counters["trivial_ms"] = seconds(trivial) * 1e3 / n;
    state.counters["daemon_ms"] = seconds(add - trivial) * 1e3 / n;
    state.counters["daemon_cpu_ms"] = daemon_cpu / 1e6 / n;
    state.counters["daemon_faults"] = daemon_faults / n;
    state.counters["keystore_bytes"] = static_cast<double>(file_size);
    state.counters["built_keystore_bytes"] = static_cast<double>(built.file.size());
}
BENCHMARK(BM_Registration)->Iterations(10)->UseRealTime()->Unit(benchmark::kMillisecond);

// A directory for the direct saves, removed with everything in it at the end.
class scratch_directory {
  public:
    explicit scratch_directory(const std::string& parent)
        : m_path(parent + "/zt-accounts-bench-" + std::to_string(::getpid())) {
        std::filesystem::create_directories(m_path);
    }
    ~scratch_directory() {
        std::error_code ignored;
        std::filesystem::remove_all(m_path, ignored);
    }
    scratch_directory(const scratch_directory&) = delete;
    scratch_directory& operator=(const scratch_directory&) = delete;
    const std::string& path() const { return m_path; }

  private:
    std::string m_path;
};

std::string file_system_of(const std::string& path) {
    struct statfs info {};
    if (::statfs(path.c_str(), &info) != 0) {
        return "unknown";
    }
    switch (info.f_type) {
        case 0x01021994:
            return "tmpfs";
        case 0xEF53:
            return "ext4";
        default:
            return "fs 0x" + [&] {
                char hex[24];
                std::snprintf(hex, sizeof hex, "%lx", static_cast<unsigned long>(info.f_type));
                return std::string(hex);
            }();
    }
}

// What a registration does to the file after its entry is in: backup (a hard link under
// ".back", the directory flushed) and save (the whole database encrypted into a new file,
// flushed, renamed over the old one, the directory flushed), straight through the library
// on the kSmall-user image plus one user. The library always flushes; on tmpfs the flushes
// return at once, so the tmpfs figures are the save without them and the difference to a
// disk is their cost.
//
// A save allocates two buffers of the file's size. This process keeps such blocks mapped
// in its heap between saves (it has freed larger ones before), so a save here reuses pages
// already there; the daemon gets fresh pages for them on every save (see its page faults per
// registration). With fresh_pages the allocator hands its free pages back to the kernel
// before each save (malloc_trim, not timed), so that the save pays the same faults.
void BM_BackupAndSave(benchmark::State& state) {
    const bool on_disk = state.range(0) != 0;
    const bool fresh_pages = state.range(1) != 0;
    const char* env = std::getenv("ZT_BENCH_DIR");
    const scratch_directory dir(on_disk ? (env != nullptr ? env : "/var/tmp") : "/dev/shm");
    const std::string path = dir.path() + "/database.bin";
    std::error_code ec;
    if (!db::file::replace(path, g_env->image(kSmall), ec)) {
        return fail(state, "cannot write the image", ec);
    }
    Database database;
    if (!bench_accounts::open_database(database, path, g_env->service_file(), ec)) {
        return fail(state, "cannot load the image", ec);
    }
    bench_accounts::user_keystore keystore;
    if (!bench_accounts::make_keystore(database.crypto_service().get_factory(),
                                       database.crypto_service().get_public_key(ec), kUserPassword,
                                       bench_accounts::kUserIterations, keystore, ec) ||
        !bench_accounts::add_registered_user(database, "newcomer", std::move(keystore), ec)) {
        return fail(state, "cannot add a user", ec);
    }
    state.SetLabel(file_system_of(dir.path()));
    steady::duration backup{};
    steady::duration save{};
    double save_cpu = 0;
    const double faults_before = minor_faults(::getpid());
    for (auto _ : state) {
        if (fresh_pages) {
            ::malloc_trim(0);
        }
        const auto t0 = steady::now();
        if (!database.backup(ec)) {
            return fail(state, "backup", ec);
        }
        const auto t1 = steady::now();
        const double cpu_before = thread_cpu_ns();
        if (!database.save(ec)) {
            return fail(state, "save", ec);
        }
        save_cpu += thread_cpu_ns() - cpu_before;
        const auto t2 = steady::now();
        backup += t1 - t0;
        save += t2 - t1;
    }
    const auto n = static_cast<double>(state.iterations());
    state.counters["backup_ms"] = seconds(backup) * 1e3 / n;
    state.counters["save_ms"] = seconds(save) * 1e3 / n;
    state.counters["save_cpu_ms"] = save_cpu / 1e6 / n;
    state.counters["faults"] = (minor_faults(::getpid()) - faults_before) / n;
    state.counters["file_KiB"] = static_cast<double>(std::filesystem::file_size(path)) / 1024;
}
BENCHMARK(BM_BackupAndSave)
    ->ArgNames({"disk", "fresh_pages"})
    ->Args({0, 0})
    ->Args({0, 1})
    ->Args({1, 0})
    ->Args({1, 1})
    ->MinTime(2.0)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    if (const std::string reason = zt_testing::sandbox::unavailable_reason(); !reason.empty()) {
        std::fprintf(stderr, "accounts_bench: skipped: %s\n", reason.c_str());
        return 0;
    }
    // The echo service answers on a thread of its own.
    dbus_threads_init_default();
    try {
        g_env = std::make_unique<accounts_environment>();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "accounts_bench: cannot set up: %s\n", e.what());
        return 1;
    }
    benchmark::RunSpecifiedBenchmarks();
    const bool survived = g_env->shut_down();
    g_env.reset();
    benchmark::Shutdown();
    if (!survived) {
        std::fprintf(stderr, "accounts_bench: the daemon died during the run\n");
        return 1;
    }
    return 0;
}
