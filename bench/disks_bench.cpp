// Disks through the daemon against the same steps done by the system tools, both in one
// sandbox with the encryption driver stand-in and in the same run: creation of an ext4 disk
// ("Create" against fallocate, losetup, zt-cryx-ctl add, mkfs.ext4, remove, losetup -d), and
// a mount and unmount ("Mount"/"Unmount" against losetup, add and mount, then umount,
// remove and losetup -d).
//
// Needs root, mount namespaces and the driver stand-in (the sandbox of testing/); elsewhere
// it says why and exits with 0 without measuring anything. Exits with 1 when the host's loop
// devices or mounts differ afterwards.

#include <benchmark/benchmark.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <memory>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <string>
#include <system_error>
#include <vector>

#include "bench/host_state.h"
#include "client/keystore.h"
#include "client/reply.h"
#include "client/session.h"
#include "dbus/dbus_iface.h"
#include "handlers/disk.h"
#include "handlers/profile.h"
#include "testing/process.h"
#include "testing/sandbox.h"

namespace {

using namespace std::chrono_literals;
using bytes = std::vector<unsigned char>;
using steady = std::chrono::steady_clock;
namespace ds = dbus_iface::system;

constexpr const char* kAdmin = "admin";
constexpr const char* kAdminPassword = "secret";
constexpr const char* kUserPassword = "user pw";
// Where the containers live: the sandbox's own tmpfs, so that its teardown detaches any
// loop device a failed run left.
constexpr const char* kDiskDir = "/run/disks";
// The key the system tools' runs use (any 32 bytes do).
constexpr const char* kToolsKeyFile = "/run/tools.key";
// Timeout of the calls and of the tool runs: formatting 1 GiB through the stand-in takes
// seconds.
constexpr int kCallTimeoutMs = 600000;

std::wstring wide(const std::string& s) {
    return std::wstring(s.begin(), s.end());
}

double seconds(steady::duration d) {
    return std::chrono::duration<double>(d).count();
}

std::string random_bytes(std::size_t n) {
    std::ifstream in("/dev/urandom", std::ios::binary);
    std::string out(n, '\0');
    if (!in.read(out.data(), static_cast<std::streamsize>(n))) {
        throw std::runtime_error("cannot read /dev/urandom");
    }
    return out;
}

// The sandbox with the driver stand-in, the provisioned daemon owning its name and an
// administrator's session, for the whole run.
class disk_environment {
  public:
    disk_environment() : m_factory(client::seeded_factory()) {
        m_box.provision_with_tool({{kAdmin, kAdminPassword}});
        m_box.write_file(std::string(kDiskDir) + "/.keep", "");
        m_box.write_file(kToolsKeyFile, random_bytes(32), 0600);
        m_daemon = m_box.start_daemon();
        if (!m_box.wait_for_name(client::kServiceName, m_daemon, 30s)) {
            throw std::runtime_error("the daemon did not take its name");
        }
        // The client library connects to the system bus named here.
        setenv("DBUS_SYSTEM_BUS_ADDRESS", m_box.bus_address().c_str(), 1);
        std::error_code ec;
        m_admin = open(kAdmin, kAdminPassword, ec);
        if (!m_admin) {
            throw std::runtime_error("administrator's session: " + ec.message());
        }
        client::session clear(options());
        client::service_reply key;
        if (!clear.connect(ec) || !clear.open_clear(ec) ||
            !call(clear, ds::service::get_public_key(), {}, key, ec)) {
            throw std::runtime_error("GetPublicKey: " + ec.message());
        }
        m_service_key = key.payload;
    }

    // Stops the daemon as an administrator would (SIGTERM) and waits for it; whatever is
    // left goes with the sandbox.
    ~disk_environment() {
        m_admin.reset();
        m_daemon.signal(SIGTERM);
        const auto status = m_daemon.wait(60s);
        if (!status || !WIFEXITED(*status) || WEXITSTATUS(*status) != 0) {
            std::fprintf(stderr, "disks_bench: the daemon did not stop cleanly\n");
        }
        unsetenv("DBUS_SYSTEM_BUS_ADDRESS");
    }

    disk_environment(const disk_environment&) = delete;
    disk_environment& operator=(const disk_environment&) = delete;

    const zt_testing::sandbox& box() const { return m_box; }
    client::session& admin() { return *m_admin; }
    pid_t daemon_pid() const { return m_daemon.pid(); }
    bool daemon_running() { return m_daemon.running(); }

    // An encrypted session as account; null with ec on failure.
    std::unique_ptr<client::session> open(const std::string& account, const std::string& pw,
                                          std::error_code& ec) const {
        auto s = std::make_unique<client::session>(options());
        if (!s->connect(ec) || !s->open_secure(account, wide(pw), ec)) {
            return nullptr;
        }
        return s;
    }

    // One call; false with ec for no reply or a failure reply.
    static bool call(client::session& s, dbus_iface::iface&& method, const bytes& body,
                     client::service_reply& reply, std::error_code& ec) {
        return s.call(std::move(method), body, reply, ec) && !(ec = reply.error());
    }
    static bool call(client::session& s, dbus_iface::iface&& method, const bytes& body,
                     std::error_code& ec) {
        client::service_reply reply;
        return call(s, std::move(method), body, reply, ec);
    }

    // A new system account of the sandbox, registered with the daemon (password
    // kUserPassword).
    bool register_user(const std::string& name, std::error_code& ec) {
        try {
            m_box.add_account(name);
        } catch (const std::exception&) {
            ec = std::make_error_code(std::errc::file_exists);  // the name is taken
            return false;
        }
        bytes file;
        if (!client::prepare_keystore(m_factory, m_service_key, wide(kUserPassword), file, ec)) {
            return false;
        }
        const std::string path = "/run/ks-" + name;
        m_box.write_file(path, std::string(file.begin(), file.end()), 0600);
        return call(*m_admin, ds::user_manage::admin::add(),
                    Container::Profile(name, path).serialize(), ec);
    }

    bool remove_user(const std::string& name, std::error_code& ec) {
        return call(*m_admin, ds::user_manage::admin::remove(),
                    Container::Profile(name, "").serialize(), ec);
    }

    bool create(const std::string& user, const std::string& path, std::uint64_t size,
                std::error_code& ec) {
        return call(*m_admin, ds::disk_manage::admin::create(),
                    Container::Disk(user, path, "ext4", size).serialize(), ec);
    }

    // The disk key that account's symmetric material holds, opened with its password.
    bytes disk_key(client::session& own, const std::string& account, std::error_code& ec) {
        client::service_reply material;
        if (!call(own, ds::user_manage::user::get_material(), {}, material, ec)) {
            return {};
        }
        client::session clear(options());
        client::service_reply container;
        if (!clear.connect(ec) || !clear.open_clear(ec) ||
            !call(clear, ds::user_manage::common::get_container(),
                  bytes(account.begin(), account.end()), container, ec)) {
            return {};
        }
        return client::open_disk_key(m_factory, container.payload, wide(kUserPassword),
                                     material.payload, ec)
            .to_vector();
    }

    // Runs a shell script inside the sandbox with the driver seen as the daemon sees it (and
    // the daemon's "C" locale); its standard output, or nothing with the reason in why when
    // it does not exit with 0.
    std::optional<std::string> shell(const std::string& script, std::string& why) const {
        zt_testing::spawn_options io;
        io.ns_fd = m_box.namespace_fd();
        io.env = m_box.cryx_environment();
        io.env->push_back("LC_ALL=C");
        io.env->push_back("CTL=" + zt_testing::sandbox::cryx_ctl_path());
        const auto result = zt_testing::run_captured({"/bin/sh", "-c", "set -e\n" + script},
                                                     std::chrono::milliseconds(kCallTimeoutMs), io);
        if (!result.status || !WIFEXITED(*result.status) || WEXITSTATUS(*result.status) != 0) {
            why = "script failed: " + script + "\n" + result.err;
            return std::nullopt;
        }
        return result.out;
    }

  private:
    client::session_options options() const {
        client::session_options o;
        o.timeout_ms = kCallTimeoutMs;
        o.service_keys_path = m_box.host_path("/etc/ztctl/service.pub");
        return o;
    }

    zt_testing::sandbox m_box{zt_testing::sandbox_options{.with_cryx = true}};
    zt_testing::child_process m_daemon;
    crypto_factory m_factory;
    std::unique_ptr<client::session> m_admin;
    bytes m_service_key;
};

std::unique_ptr<disk_environment> g_env;

void fail(benchmark::State& state, const std::string& what, const std::error_code& ec = {}) {
    const std::string text =
        ec ? what + ": " + ec.message() + " (" + ec.category().name() + ")" : what;
    state.SkipWithError(text.c_str());
}

// Whether the daemon's mount table has a mount on dir.
bool daemon_has_mount(const std::string& dir) {
    std::ifstream in("/proc/" + std::to_string(g_env->daemon_pid()) + "/mounts");
    const std::string table{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    return table.find(" " + dir + " ") != std::string::npos;
}

// One creation by the daemon and one by the tools, for a freshly registered user, in the
// order given; both containers and the user are removed afterwards. Adds each side's time
// to its total (when given); false with the reason otherwise.
bool create_round(std::uint64_t size, bool daemon_first, steady::duration* daemon,
                  steady::duration* tools, std::string& why) {
    static int serial = 0;
    const std::string user = "create" + std::to_string(++serial);
    const std::string image = std::string(kDiskDir) + "/" + user + ".img";
    const std::string tools_image = std::string(kDiskDir) + "/tools.img";
    const std::string script = "umask 077\nfallocate -l " + std::to_string(size) + " " +
                               tools_image + "\nchown " + user + ": " + tools_image +
                               "\nloop=$(losetup -f --show " + tools_image +
                               ")\nn=$($CTL add $loop --key-file " + kToolsKeyFile +
                               ")\nmkfs.ext4 -q /dev/cryx$n\n$CTL remove $n\nlosetup -d $loop\n";
    std::error_code ec;
    if (!g_env->register_user(user, ec)) {
        why = "registration of " + user + ": " + ec.message();
        return false;
    }
    for (int turn = 0; turn < 2; ++turn) {
        const auto t0 = steady::now();
        if ((turn == 0) == daemon_first) {
            if (!g_env->create(user, image, size, ec)) {
                why = "Create: " + ec.message();
                return false;
            }
            if (daemon != nullptr) {
                *daemon += steady::now() - t0;
            }
        } else {
            if (!g_env->shell(script, why)) {
                return false;
            }
            if (tools != nullptr) {
                *tools += steady::now() - t0;
            }
        }
    }
    for (const auto& path : {image, tools_image}) {
        if (::unlink(g_env->box().host_path(path).c_str()) != 0) {
            why = "the container " + path + " is missing";
            return false;
        }
    }
    if (!g_env->remove_user(user, ec)) {
        why = "removal of " + user + ": " + ec.message();
        return false;
    }
    return true;
}

// "Create" of an ext4 disk of the given MiB for a freshly registered user, against the same
// steps done by the tools: the container made as the daemon makes it (a new file of mode
// 0600 whose size is reserved with fallocate), handed to its user, attached, keyed through
// the driver, formatted, released. Registration and the removal of both containers (and of
// the user) are outside the timing; the two sides take turns going first, after one untimed
// round that warms both up (the first creations of a run are up to three times slower).
void BM_CreateVsTools(benchmark::State& state) {
    const auto size = static_cast<std::uint64_t>(state.range(0)) << 20;
    std::string why;
    if (!create_round(size, true, nullptr, nullptr, why)) {
        return fail(state, why);
    }
    steady::duration daemon{};
    steady::duration tools{};
    std::int64_t round = 0;
    for (auto _ : state) {
        const auto before = daemon;
        if (!create_round(size, round++ % 2 == 0, &daemon, &tools, why)) {
            return fail(state, why);
        }
        state.SetIterationTime(seconds(daemon - before));
    }
    const double n = static_cast<double>(state.iterations());
    state.counters["daemon_ms"] = seconds(daemon) * 1000 / n;
    state.counters["tools_ms"] = seconds(tools) * 1000 / n;
    state.counters["daemon_vs_tools"] = seconds(daemon) / seconds(tools);
}

// "Mount" and "Unmount" of a created 64 MiB disk by its user's session, against the tools
// doing the same on the same container and directory: losetup, add, mount with the
// daemon's flags, the directory handed to the user; then umount, remove, losetup -d. The
// two sides take turns going first.
void BM_MountVsTools(benchmark::State& state) {
    // A new user for every run of the benchmark (repetitions make several).
    static int serial = 0;
    const std::string user = "mounter" + std::to_string(++serial);
    const std::string image = std::string(kDiskDir) + "/" + user + ".img";
    const std::string dir = "/zt/" + user;
    const std::string key_file = "/run/" + user + ".key";
    std::error_code ec;
    if (!g_env->register_user(user, ec) || !g_env->create(user, image, 64u << 20, ec)) {
        return fail(state, "the disk to mount", ec);
    }
    const auto session = g_env->open(user, kUserPassword, ec);
    if (!session) {
        return fail(state, "the user's session", ec);
    }
    const bytes key = g_env->disk_key(*session, user, ec);
    if (key.size() != 32) {
        return fail(state, "the disk key", ec);
    }
    g_env->box().write_file(key_file, std::string(key.begin(), key.end()), 0600);
    const std::string mount_script =
        "loop=$(losetup -f --show " + image + ")\nn=$($CTL add $loop --key-file " + key_file +
        ")\nmount -t ext4 -o nosuid,nodev,dirsync /dev/cryx$n " + dir + "\nchown " + user + ": " +
        dir + "\nchmod 700 " + dir + "\necho $loop $n\n";
    steady::duration daemon_mount{};
    steady::duration daemon_unmount{};
    steady::duration tools_mount{};
    steady::duration tools_unmount{};
    std::string why;
    std::int64_t round = 0;
    for (auto _ : state) {
        const bool daemon_first = round++ % 2 == 0;
        for (int turn = 0; turn < 2; ++turn) {
            if ((turn == 0) == daemon_first) {
                const auto t0 = steady::now();
                if (!disk_environment::call(*session, ds::disk_manage::user::mount(), key, ec)) {
                    return fail(state, "Mount", ec);
                }
                const auto t1 = steady::now();
                if (!daemon_has_mount(dir)) {
                    return fail(state, "no mount on " + dir + " after Mount");
                }
                const auto t2 = steady::now();
                if (!disk_environment::call(*session, ds::disk_manage::user::unmount(), {}, ec)) {
                    return fail(state, "Unmount", ec);
                }
                const auto t3 = steady::now();
                daemon_mount += t1 - t0;
                daemon_unmount += t3 - t2;
                state.SetIterationTime(seconds((t1 - t0) + (t3 - t2)));
            } else {
                const auto t0 = steady::now();
                const auto devices = g_env->shell(mount_script, why);
                if (!devices) {
                    return fail(state, why);
                }
                const auto t1 = steady::now();
                std::istringstream words(*devices);
                std::string loop;
                std::string number;
                if (!(words >> loop >> number) || !daemon_has_mount(dir)) {
                    return fail(state, "the tools mounted nothing: " + *devices);
                }
                const auto t2 = steady::now();
                if (!g_env->shell(
                        "umount " + dir + "\n$CTL remove " + number + "\nlosetup -d " + loop + "\n",
                        why)) {
                    return fail(state, why);
                }
                const auto t3 = steady::now();
                tools_mount += t1 - t0;
                tools_unmount += t3 - t2;
            }
        }
        if (daemon_has_mount(dir)) {
            return fail(state, dir + " is still mounted");
        }
    }
    const double n = static_cast<double>(state.iterations());
    state.counters["daemon_mount_ms"] = seconds(daemon_mount) * 1000 / n;
    state.counters["daemon_unmount_ms"] = seconds(daemon_unmount) * 1000 / n;
    state.counters["tools_mount_ms"] = seconds(tools_mount) * 1000 / n;
    state.counters["tools_unmount_ms"] = seconds(tools_unmount) * 1000 / n;
    state.counters["mount_vs_tools"] = seconds(daemon_mount) / seconds(tools_mount);
    state.counters["unmount_vs_tools"] = seconds(daemon_unmount) / seconds(tools_unmount);
    state.counters["both_vs_tools"] =
        seconds(daemon_mount + daemon_unmount) / seconds(tools_mount + tools_unmount);
}

}  // namespace

// The time Google Benchmark reports is the daemon's side; the counters give both.
BENCHMARK(BM_CreateVsTools)
    ->ArgName("MiB")
    ->Arg(64)
    ->Iterations(8)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CreateVsTools)
    ->ArgName("MiB")
    ->Arg(1024)
    ->Iterations(8)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MountVsTools)->Iterations(20)->UseManualTime()->Unit(benchmark::kMillisecond);

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    const zt_testing::sandbox_options options{.with_cryx = true};
    if (const std::string reason = zt_testing::sandbox::unavailable_reason(options);
        !reason.empty()) {
        std::fprintf(stderr, "disks_bench: skipped: %s\n", reason.c_str());
        return 0;
    }
    const auto before = bench_host::host_state::now();
    try {
        g_env = std::make_unique<disk_environment>();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "disks_bench: cannot set up the sandbox: %s\n", e.what());
        return 1;
    }
    benchmark::AddCustomContext("daemon_pid", std::to_string(g_env->daemon_pid()));
    benchmark::RunSpecifiedBenchmarks();
    const bool survived = g_env->daemon_running();
    g_env.reset();
    benchmark::Shutdown();
    int status = 0;
    if (!survived) {
        std::fprintf(stderr, "disks_bench: the daemon died during the run\n");
        status = 1;
    }
    if (const auto left = before.difference(bench_host::host_state::now()); !left.empty()) {
        std::fprintf(stderr, "disks_bench: the host is not as it was:\n%s", left.c_str());
        status = 1;
    }
    return status;
}
