// Save and load of databases of 100, 10 000 and 100 000 users, each with a real key
// container, a 1 KiB symmetric material and a disk, side by side with the raw cost of
// SHA-256 plus AES-256-CBC over the same number of bytes. Load also reports its peak heap
// use (counted by the allocator below) relative to the file size.
//
//   build/bench/database_bench [--benchmark_filter=...]
//
// The files go to $ZT_BENCH_DIR (default /tmp).
#include <malloc.h>
#include <stdlib.h>
#include <sys/random.h>
#include <unistd.h>

#include <benchmark/benchmark.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <map>
#include <memory>
#include <new>
#include <string>

#include "crypto/crypto_factory.h"
#include "crypto/hasher.h"
#include "database/database.h"
#include "database/serializer.h"
#include "system/cast.h"
#include "ztcrypto/ztcrypto.h"

// ---- heap accounting: current and peak bytes handed out by operator new ----

namespace {
std::atomic<std::size_t> g_heap_now{0};
std::atomic<std::size_t> g_heap_peak{0};

void* counted_alloc(std::size_t n) {
    void* p = std::malloc(n == 0 ? 1 : n);
    if (p == nullptr) {
        throw std::bad_alloc();
    }
    const std::size_t now = g_heap_now += malloc_usable_size(p);
    std::size_t peak = g_heap_peak.load();
    while (now > peak && !g_heap_peak.compare_exchange_weak(peak, now)) {
    }
    return p;
}

void counted_free(void* p) noexcept {
    if (p != nullptr) {
        g_heap_now -= malloc_usable_size(p);
        std::free(p);
    }
}
}  // namespace

void* operator new(std::size_t n) {
    return counted_alloc(n);
}
void* operator new[](std::size_t n) {
    return counted_alloc(n);
}
void operator delete(void* p) noexcept {
    counted_free(p);
}
void operator delete[](void* p) noexcept {
    counted_free(p);
}
void operator delete(void* p, std::size_t) noexcept {
    counted_free(p);
}
void operator delete[](void* p, std::size_t) noexcept {
    counted_free(p);
}

namespace {

using bytes = std::vector<unsigned char>;

// One provider, one service and one real user container for the whole run.
struct environment {
    crypto_factory factory;
    Database::credentials service;
    bytes user_container;
    std::string dir;

    environment() {
        bytes seed(32);
        (void)::getrandom(seed.data(), seed.size(), 0);
        factory.initialize(seed);
        bytes secret(32);
        (void)::getrandom(secret.data(), secret.size(), 0);
        static constexpr wchar_t kDigits[] = L"0123456789abcdef";
        for (const unsigned char b : secret) {
            service.first.push_back(kDigits[b >> 4]);
            service.first.push_back(kDigits[b & 0x0F]);
        }
        auto agreement = factory.self()->create_key_agreement(L"");
        service.second = agreement->create_container(service.first, std::time(nullptr), 1000);
        user_container = agreement->create_container(L"user password", std::time(nullptr), 1000);
        const char* env = std::getenv("ZT_BENCH_DIR");
        dir = (env != nullptr ? env : "/tmp") + std::string("/ztdb-bench-") +
              std::to_string(::getpid());
        std::filesystem::create_directories(dir);
    }
    ~environment() {
        std::error_code ignored;
        std::filesystem::remove_all(dir, ignored);
    }

    std::string path(std::int64_t users) const {
        return dir + "/database-" + std::to_string(users) + ".bin";
    }
};

environment& env() {
    static environment instance;
    return instance;
}

// The body of a database of n users, built section by section (inserting one by one
// would walk all users for every insertion).
bytes make_body(std::int64_t n, Hasher& hasher) {
    Serializer users;
    users.push_back(cast::to_vector<std::uint16_t>(0x7573));
    DatabaseIdManager ids;
    bytes material(1024);
    for (std::int64_t i = 0; i < n; ++i) {
        db::UserEntry user;
        user.set_id(ids.obtain_id());
        char name[32];
        std::snprintf(name, sizeof name, "user%06lld", static_cast<long long>(i));
        user.set_name(name);
        std::error_code ec;
        // Distinct hashes, as distinct containers would have.
        user.set_container(
            env().user_container,
            [&](const bytes& c) {
                bytes salted = c;
                const auto id = cast::to_vector<std::uint64_t>(user.get_id());
                salted.insert(salted.end(), id.begin(), id.end());
                return hasher.hash(salted, ec);
            },
            std::time(nullptr));
        (void)::getrandom(material.data(), material.size(), 0);
        user.set_symmetric_material(material);
        user.set_parameter(bytes(32, 0x11));
        auto& disk = user.disk();
        disk.guid().generate();
        disk.set_path(std::string("/home/disks/") + name + ".img");
        disk.set_mount_directory(std::string("/zt/") + name);
        disk.set_fs("ext4");
        disk.set_size(std::uint64_t{1} << 30);
        disk.set_status(DiskStateInfo::unmounted);
        disk.set_creation_time(std::time(nullptr));
        users.push_back(user.serialize());
    }
    Serializer id_section;
    id_section.push_back(cast::to_vector<std::uint16_t>(0x6973));
    id_section.push_back(ids.save());
    Serializer body;
    body.push_back(users.serialize());
    body.push_back(id_section.serialize());
    return body.serialize();
}

// A database of n users loaded as the daemon loads one, ready to save; built once per n.
Database& database(std::int64_t n) {
    static std::map<std::int64_t, std::unique_ptr<Database>> made;
    auto& slot = made[n];
    if (!slot) {
        const std::string path = env().path(n);
        std::FILE* empty = std::fopen(path.c_str(), "wb");
        std::fclose(empty);
        slot = std::make_unique<Database>();
        std::error_code ec;
        Hasher hasher;
        if (!slot->crypto_service().initialize(env().factory, ec) ||
            !slot->load(path, env().service, ec) || !hasher.initialize(env().factory, ec) ||
            !slot->deserialize(make_body(n, hasher)) || !slot->save(ec)) {
            std::fprintf(stderr, "cannot prepare %lld users: %s\n", static_cast<long long>(n),
                         ec.message().c_str());
            std::abort();
        }
    }
    return *slot;
}

std::size_t file_size(std::int64_t n) {
    return std::filesystem::file_size(env().path(n));
}

void BM_DatabaseSave(benchmark::State& state) {
    Database& db = database(state.range(0));
    for (auto _ : state) {
        std::error_code ec;
        if (!db.save(ec)) {
            state.SkipWithError(ec.message().c_str());
            break;
        }
    }
    state.SetBytesProcessed(
        static_cast<std::int64_t>(state.iterations() * file_size(state.range(0))));
    state.counters["file_MiB"] = static_cast<double>(file_size(state.range(0))) / (1 << 20);
    state.counters["time_per_user"] = benchmark::Counter(
        static_cast<double>(state.range(0)),
        benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

void BM_DatabaseLoad(benchmark::State& state) {
    database(state.range(0));  // makes the file
    const double size = static_cast<double>(file_size(state.range(0)));
    double worst_ratio = 0;
    for (auto _ : state) {
        const std::size_t before = g_heap_now.load();
        g_heap_peak = before;
        {
            Database db;
            std::error_code ec;
            if (!db.crypto_service().initialize(env().factory, ec) ||
                !db.load(env().path(state.range(0)), env().service, ec)) {
                state.SkipWithError(ec.message().c_str());
                break;
            }
            benchmark::DoNotOptimize(db.get_user_list().size());
            state.PauseTiming();  // the destruction is not part of the load
        }
        state.ResumeTiming();
        worst_ratio = std::max(worst_ratio, static_cast<double>(g_heap_peak - before) / size);
    }
    state.SetBytesProcessed(
        static_cast<std::int64_t>(state.iterations() * file_size(state.range(0))));
    state.counters["peak_heap_x_file"] = worst_ratio;
    state.counters["time_per_user"] = benchmark::Counter(
        static_cast<double>(state.range(0)),
        benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

// SHA-256 and AES-256-CBC (through the provider) over as many bytes as the n-user file
// encrypts: the floor under both save and load.
void BM_RawHashAndCipher(benchmark::State& state) {
    database(state.range(0));
    const std::size_t size = file_size(state.range(0)) / 16 * 16;
    bytes data(size, 0x5A);
    bytes out(size);
    bytes digest(32);
    auto hash = env().factory.self()->create_hash(L"");
    hash->initialize();
    auto algorithm = env().factory.self()->create_symmetric(L"");
    algorithm->generate_key();
    auto cipher = algorithm->create_encrypter();
    cipher->set_iv(bytes(cipher->iv_size(0), 1));
    for (auto _ : state) {
        hash->digest(data.data(), data.size(), digest.data());
        cipher->encrypt(data.data(), data.size(), out.data());
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * size));
    state.counters["time_per_user"] = benchmark::Counter(
        static_cast<double>(state.range(0)),
        benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

// The fixed part of every load: unlocking the service container (PBKDF2 with 1000
// iterations, twice) and deriving the file key, measured on an empty database file.
void BM_ServiceUnlock(benchmark::State& state) {
    const std::string path = env().dir + "/empty.bin";
    std::FILE* empty = std::fopen(path.c_str(), "wb");
    std::fclose(empty);
    for (auto _ : state) {
        Database db;
        std::error_code ec;
        if (!db.crypto_service().initialize(env().factory, ec) ||
            !db.load(path, env().service, ec)) {
            state.SkipWithError(ec.message().c_str());
            break;
        }
    }
}
BENCHMARK(BM_ServiceUnlock)->Unit(benchmark::kMillisecond);

void sizes(benchmark::internal::Benchmark* b) {
    b->Arg(100)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond)->MinTime(0.5);
}

BENCHMARK(BM_RawHashAndCipher)->Apply(sizes);
BENCHMARK(BM_DatabaseSave)->Apply(sizes);
BENCHMARK(BM_DatabaseLoad)->Apply(sizes);

}  // namespace

BENCHMARK_MAIN();
