// The daemon on its bus, measured against a raw libdbus echo service on the same private bus
// in the same run: the cheapest encrypted request against one echo round trip, a whole
// session against eleven echo round trips plus the key agreement's own cost, and the
// daemon's resident memory over many requests and over many kept sessions.
//
// Needs root and mount namespaces (the sandbox of testing/); elsewhere it says why and exits
// with 0 without measuring anything.

#include <benchmark/benchmark.h>
#include <dbus/dbus.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <iterator>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <string>
#include <system_error>
#include <vector>

#include "bench/echo_service.h"
#include "client/reply.h"
#include "client/session.h"
#include "crypto/account_token.h"
#include "dbus/dbus_iface.h"
#include "testing/host_state.h"
#include "testing/private_bus.h"
#include "testing/process.h"
#include "testing/sandbox.h"
#include "ztcrypto/ztcrypto.h"

namespace {

using namespace std::chrono_literals;
using bytes = std::vector<unsigned char>;
using steady = std::chrono::steady_clock;

constexpr const char* kAccount = "admin";
constexpr const char* kAccountPassword = "secret";
const std::wstring kAccountPasswordWide = L"secret";
constexpr const char* kEchoPolicyFile = "/etc/dbus-1/system.d/ru.quorvex.bench.echo.conf";
// Round trips of a whole session from "Open" to "Close": the ten calls of either handshake
// and the close.
constexpr int kSessionCalls = 11;
// Iteration count of the service's and the account's key containers in the sandbox.
constexpr std::uint32_t kContainerIterations = 1000;

const bytes& echo_payload() {
    static const bytes payload = [] {
        bytes b(64);
        for (std::size_t i = 0; i < b.size(); ++i) {
            b[i] = static_cast<unsigned char>(i * 37 + 11);
        }
        return b;
    }();
    return payload;
}

double seconds(steady::duration d) {
    return std::chrono::duration<double>(d).count();
}

// User and system CPU time in seconds from a /proc stat file (a process's or one thread's),
// or -1 when it cannot be read.
double cpu_seconds(const std::string& stat_path) {
    std::ifstream in(stat_path);
    std::string line;
    if (!std::getline(in, line)) {
        return -1;
    }
    // The command name may hold anything, spaces and parentheses included: fields are
    // counted from its closing parenthesis, utime and stime being the 12th and 13th there.
    const auto close = line.rfind(')');
    if (close == std::string::npos) {
        return -1;
    }
    std::istringstream fields(line.substr(close + 1));
    std::string field;
    unsigned long long utime = 0;
    unsigned long long stime = 0;
    for (int i = 1; i <= 13 && fields >> field; ++i) {
        if (i == 12) {
            utime = std::stoull(field);
        } else if (i == 13) {
            stime = std::stoull(field);
        }
    }
    return static_cast<double>(utime + stime) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

double cpu_seconds(pid_t pid) {
    return cpu_seconds("/proc/" + std::to_string(pid) + "/stat");
}

// The sandbox with its private bus, the provisioned daemon owning its name, and the echo
// service owning its own, for the whole run.
class bus_environment {
  public:
    bus_environment() {
        m_box.provision_with_tool({{kAccount, kAccountPassword}});
        m_box.write_file(kEchoPolicyFile, bench_bus::echo_policy());
        m_daemon = m_box.start_daemon();
        if (!m_box.wait_for_name(client::kServiceName, m_daemon, 30s)) {
            throw std::runtime_error("the daemon did not take its name");
        }
        // Taking the name succeeds only once the bus has reloaded its policy directory.
        m_echo = std::make_unique<bench_bus::echo_service>(m_box.bus_address(), 30s);
        m_echo_client = zt_testing::open_bus(m_box.bus_address());
        if (!bench_bus::echo_call(m_echo_client.get(), echo_payload())) {
            throw std::runtime_error("the echo service does not answer");
        }
        m_pinned_keys = m_box.host_path("/etc/ztctl/service.pub");
        // The client library connects to the system bus named here.
        setenv("DBUS_SYSTEM_BUS_ADDRESS", m_box.bus_address().c_str(), 1);
    }

    // Stops the daemon as an administrator would (SIGTERM) and waits for it; whatever is
    // left goes with the sandbox.
    ~bus_environment() {
        m_echo_client.reset();
        m_echo.reset();
        m_daemon.signal(SIGTERM);
        const auto status = m_daemon.wait(30s);
        if (!status || !WIFEXITED(*status) || WEXITSTATUS(*status) != 0) {
            std::fprintf(stderr, "bus_bench: the daemon did not stop cleanly\n");
        }
        unsetenv("DBUS_SYSTEM_BUS_ADDRESS");
    }

    bus_environment(const bus_environment&) = delete;
    bus_environment& operator=(const bus_environment&) = delete;

    DBusConnection* echo_client() const { return m_echo_client.get(); }
    // CPU seconds the echo service's thread has used so far.
    double echo_cpu_seconds() const {
        return cpu_seconds("/proc/self/task/" + std::to_string(m_echo->thread_id()) + "/stat");
    }
    pid_t daemon_pid() const { return m_daemon.pid(); }
    bool daemon_running() { return m_daemon.running(); }

    // A client connected to the service (pinned to the provisioned keys), not yet in a
    // session; null with ec on failure.
    std::unique_ptr<client::session> connected(client::handshake_sequence sequence,
                                               std::error_code& ec) const {
        auto s = std::make_unique<client::session>(client::session_options{
            .sequence = sequence, .timeout_ms = 30000, .service_keys_path = m_pinned_keys});
        if (!s->connect(ec)) {
            return nullptr;
        }
        return s;
    }

    // A client in an encrypted session for the provisioned account.
    std::unique_ptr<client::session> secured(client::handshake_sequence sequence,
                                             std::error_code& ec) const {
        auto s = connected(sequence, ec);
        if (s && !s->open_secure(kAccount, kAccountPasswordWide, ec)) {
            return nullptr;
        }
        return s;
    }

  private:
    zt_testing::sandbox m_box;
    zt_testing::child_process m_daemon;
    std::unique_ptr<bench_bus::echo_service> m_echo;
    zt_testing::connection_ptr m_echo_client;
    std::string m_pinned_keys;
};

std::unique_ptr<bus_environment> g_bus;

// "GetPublicKey" on an encrypted session; true for a success reply carrying a key, whose
// size goes to key_size when given.
bool get_public_key(client::session& s, std::error_code& ec, std::size_t* key_size = nullptr) {
    client::service_reply reply;
    if (!s.call(dbus_iface::system::service::get_public_key(), {}, reply, ec)) {
        return false;
    }
    if ((ec = reply.error())) {
        return false;
    }
    if (key_size != nullptr) {
        *key_size = reply.payload.size();
    }
    return !reply.payload.empty();
}

// The provider work of one session setup on both sides, with fresh objects as in a real
// session: the service container opened by the daemon (key agreement and asymmetric key),
// the account's container opened by the client, the ephemeral agreement, the daemon's
// encrypter keyed before and after the token, the client's keyed with it.
class handshake_cryptography {
  public:
    handshake_cryptography() {
        m_factory.initialize(nullptr, 0);
        const std::time_t now = std::time(nullptr);
        m_service = m_factory.create_key_agreement(L"")->create_container(kServicePassword, now,
                                                                          kContainerIterations);
        m_account = m_factory.create_key_agreement(L"")->create_container(kAccountPasswordWide, now,
                                                                          kContainerIterations);
    }

    // One setup; false when the two sides did not end with the same session key.
    bool run() {
        // "SetAuthData": the daemon's cipher from the factory, the service container opened.
        auto initial = m_factory.create_key_agreement(L"");
        auto initial_asymmetric = m_factory.create_asymmetric(L"");
        initial_asymmetric->initialize();
        initial->initialize();
        auto server = m_factory.create_key_agreement(L"");
        server->import_container(m_service.data(), m_service.size(), kServicePassword);
        auto server_asymmetric = m_factory.create_asymmetric(L"");
        server_asymmetric->import_container(m_service.data(), m_service.size(), kServicePassword);

        // The client opens the account's container with the password.
        auto account = m_factory.create_key_agreement(L"");
        account->import_container(m_account.data(), m_account.size(), kAccountPasswordWide);

        // Key material, answer, IV.
        auto client = m_factory.create_key_agreement(L"");
        const std::vector<std::uint8_t> material = client->create_client_key_material();
        const auto answer =
            server->import_key_material(RawMemoryDefault::view(material.data(), material.size()));
        client->import_server_key_material(*answer.first);
        std::vector<std::uint8_t> iv(16);
        m_factory.create_random(L"")->generate(iv.data(), iv.size());
        auto server_encrypter = encrypter(*server, kServicePassword, iv);

        // The token goes into both agreements; both key their encrypters again.
        const RawMemoryDefault token = account->derive_secret(crypto::kAccountTokenLabel);
        server->set_additional_private_parameter(token.data(), token.size(), 0);
        server_encrypter = encrypter(*server, kServicePassword, iv);
        client->set_additional_private_parameter(token.data(), token.size(), 0);
        auto client_encrypter = encrypter(*client, kClientPassword, iv);

        std::uint8_t plain[16] = {1, 2, 3};
        std::uint8_t sealed[16];
        std::uint8_t opened[16];
        client_encrypter->encrypt(plain, sizeof plain, sealed);
        server_encrypter->decrypt(sealed, sizeof sealed, opened);
        return std::equal(std::begin(plain), std::end(plain), std::begin(opened));
    }

  private:
    inline static const std::wstring kServicePassword = L"0f1e2d3c4b5a69788796a5b4c3d2e1f0";
    inline static const std::wstring kClientPassword = L"client session";

    std::shared_ptr<SymmetricEncrypter> encrypter(const DiffieHellmanBase& agreement,
                                                  const std::wstring& password,
                                                  const std::vector<std::uint8_t>& iv) {
        const std::vector<std::uint8_t> sealed = agreement.get_symmetric_key_container(password);
        auto algorithm = m_factory.create_symmetric(L"");
        algorithm->import_key(password, sealed.data(), sealed.size());
        auto e = algorithm->create_encrypter();
        e->set_iv(iv);
        return e;
    }

    CryptoFactoryDef m_factory;
    std::vector<std::uint8_t> m_service;
    std::vector<std::uint8_t> m_account;
};

void fail(benchmark::State& state, const std::string& what, const std::error_code& ec = {}) {
    const std::string text =
        ec ? what + ": " + ec.message() + " (" + ec.category().name() + ")" : what;
    state.SkipWithError(text.c_str());
}

// The cheapest encrypted request of an opened session beside the echo round trip, in
// alternating blocks of `block` calls each, so that both see the same load: blocks of one
// alternate call by call (each side wakes from idle every time), longer blocks give each
// side a steady stream of calls.
void BM_RequestVsEcho(benchmark::State& state) {
    const auto block = state.range(0);
    std::error_code ec;
    const auto session = g_bus->secured(client::handshake_sequence::plain, ec);
    if (!session) {
        return fail(state, "session setup", ec);
    }
    std::size_t key_size = 0;
    if (!get_public_key(*session, ec, &key_size)) {
        return fail(state, "GetPublicKey", ec);
    }
    steady::duration echo{};
    steady::duration request{};
    const double cpu_before = cpu_seconds(g_bus->daemon_pid());
    const double echo_cpu_before = g_bus->echo_cpu_seconds();
    for (auto _ : state) {
        const auto t0 = steady::now();
        for (std::int64_t i = 0; i < block; ++i) {
            if (!bench_bus::echo_call(g_bus->echo_client(), echo_payload())) {
                return fail(state, "echo");
            }
        }
        const auto t1 = steady::now();
        for (std::int64_t i = 0; i < block; ++i) {
            if (!get_public_key(*session, ec)) {
                return fail(state, "GetPublicKey", ec);
            }
        }
        const auto t2 = steady::now();
        echo += t1 - t0;
        request += t2 - t1;
    }
    const auto n = static_cast<double>(state.iterations() * block);
    const double echo_rate = n / seconds(echo);
    const double request_rate = n / seconds(request);
    state.counters["echo_calls/s"] = echo_rate;
    state.counters["request_calls/s"] = request_rate;
    state.counters["request_vs_echo"] = request_rate / echo_rate;
    // Where the daemon's own share of a request's time goes is the first question when the
    // ratio falls short.
    state.counters["daemon_cpu_us/request"] =
        (cpu_seconds(g_bus->daemon_pid()) - cpu_before) * 1e6 / n;
    state.counters["echo_cpu_us/call"] = (g_bus->echo_cpu_seconds() - echo_cpu_before) * 1e6 / n;
    state.counters["key_bytes"] = static_cast<double>(key_size);
}
BENCHMARK(BM_RequestVsEcho)->ArgName("block")->Arg(1)->Arg(100)->MinTime(3.0)->UseRealTime();

// A whole session (either handshake, then "Close") on one connection, beside eleven echo
// round trips and one run of the same key agreement straight through the provider. The
// daemon keeps one session per connection, so reusing the connection keeps its session
// table as it is.
void BM_SessionVsEcho(benchmark::State& state) {
    const auto sequence = state.range(0) != 0 ? client::handshake_sequence::authenticated
                                              : client::handshake_sequence::plain;
    std::error_code ec;
    const auto session = g_bus->connected(sequence, ec);
    if (!session) {
        return fail(state, "connect", ec);
    }
    handshake_cryptography cryptography;
    steady::duration handshake{};
    steady::duration close{};
    steady::duration echo{};
    steady::duration crypto{};
    for (auto _ : state) {
        const auto t0 = steady::now();
        if (!session->open_secure(kAccount, kAccountPasswordWide, ec)) {
            return fail(state, "handshake", ec);
        }
        const auto t1 = steady::now();
        if (!session->close(ec)) {
            return fail(state, "close", ec);
        }
        const auto t2 = steady::now();
        for (int i = 0; i < kSessionCalls; ++i) {
            if (!bench_bus::echo_call(g_bus->echo_client(), echo_payload())) {
                return fail(state, "echo");
            }
        }
        const auto t3 = steady::now();
        if (!cryptography.run()) {
            return fail(state, "the two sides of the key agreement differ");
        }
        const auto t4 = steady::now();
        handshake += t1 - t0;
        close += t2 - t1;
        echo += t3 - t2;
        crypto += t4 - t3;
    }
    const auto n = static_cast<double>(state.iterations());
    const double ms = 1000.0 / n;
    state.counters["handshake_ms"] = seconds(handshake) * ms;
    state.counters["close_ms"] = seconds(close) * ms;
    state.counters["echo11_ms"] = seconds(echo) * ms;
    state.counters["key_agreement_ms"] = seconds(crypto) * ms;
    state.counters["session_vs_floor"] = seconds(handshake + close) / seconds(echo + crypto);
    state.counters["handshake_vs_floor"] = seconds(handshake) / seconds(echo + crypto);
}
BENCHMARK(BM_SessionVsEcho)
    ->ArgName("authenticated")
    ->Arg(0)
    ->Arg(1)
    ->MinTime(3.0)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

// The daemon's resident memory before and after 10 000 requests on a new session (read
// once the session is set up, before its first request).
void BM_ResidentOverRequests(benchmark::State& state) {
    std::error_code ec;
    const auto session = g_bus->secured(client::handshake_sequence::plain, ec);
    if (!session) {
        return fail(state, "session setup", ec);
    }
    const auto before = static_cast<std::int64_t>(zt_testing::resident_bytes(g_bus->daemon_pid()));
    for (auto _ : state) {
        if (!get_public_key(*session, ec)) {
            return fail(state, "GetPublicKey", ec);
        }
    }
    const auto after = static_cast<std::int64_t>(zt_testing::resident_bytes(g_bus->daemon_pid()));
    if (before == 0 || after == 0) {
        return fail(state, "cannot read the daemon's VmRSS");
    }
    state.counters["rss_before_KiB"] = static_cast<double>(before) / 1024;
    state.counters["rss_after_KiB"] = static_cast<double>(after) / 1024;
    state.counters["growth_KiB"] = static_cast<double>(after - before) / 1024;
}
BENCHMARK(BM_ResidentOverRequests)->Iterations(10000)->UseRealTime();

// The daemon's resident memory per kept session: N clients each set up an encrypted
// session and hold it (and its connection) while the memory is read again. The same with
// clear sessions ("Open" only) tells the session's own record from its cryptography.
void BM_ResidentPerSession(benchmark::State& state) {
    const auto n = static_cast<std::size_t>(state.range(0));
    const bool secure = state.range(1) != 0;
    std::error_code ec;
    for (auto _ : state) {
        const auto before =
            static_cast<std::int64_t>(zt_testing::resident_bytes(g_bus->daemon_pid()));
        std::vector<std::unique_ptr<client::session>> held;
        held.reserve(n);
        for (std::size_t i = 0; i < n; ++i) {
            held.push_back(secure ? g_bus->secured(client::handshake_sequence::plain, ec)
                                  : g_bus->connected(client::handshake_sequence::plain, ec));
            if (held.back() && !secure && !held.back()->open_clear(ec)) {
                held.back().reset();
            }
            if (!held.back()) {
                return fail(state, "session " + std::to_string(i), ec);
            }
        }
        const auto after =
            static_cast<std::int64_t>(zt_testing::resident_bytes(g_bus->daemon_pid()));
        if (before == 0 || after == 0) {
            return fail(state, "cannot read the daemon's VmRSS");
        }
        state.counters["rss_before_KiB"] = static_cast<double>(before) / 1024;
        state.counters["rss_after_KiB"] = static_cast<double>(after) / 1024;
        state.counters["bytes_per_session"] =
            static_cast<double>(after - before) / static_cast<double>(n);
    }
}
BENCHMARK(BM_ResidentPerSession)
    ->ArgNames({"sessions", "secure"})
    ->Args({200, 1})
    ->Args({200, 0})
    ->Iterations(1)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    if (const std::string reason = zt_testing::sandbox::unavailable_reason(); !reason.empty()) {
        std::fprintf(stderr, "bus_bench: skipped: %s\n", reason.c_str());
        return 0;
    }
    // The echo service answers on a thread of its own.
    dbus_threads_init_default();
    try {
        g_bus = std::make_unique<bus_environment>();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "bus_bench: cannot set up the bus: %s\n", e.what());
        return 1;
    }
    // Which process to profile while the run goes on.
    benchmark::AddCustomContext("daemon_pid", std::to_string(g_bus->daemon_pid()));
    benchmark::RunSpecifiedBenchmarks();
    const bool survived = g_bus->daemon_running();
    g_bus.reset();
    benchmark::Shutdown();
    if (!survived) {
        std::fprintf(stderr, "bus_bench: the daemon died during the run\n");
        return 1;
    }
    return 0;
}
