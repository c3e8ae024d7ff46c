// The crypto provider's operations as the daemon and the clients call them.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <ctime>
#include <memory>
#include <vector>

#include "ztcrypto/ztcrypto.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr std::time_t kCreated = 1706745599;
const std::wstring kPassword = L"5e7a0c1d9f2b4a6e8c0d1f3a5b7c9e0f";

CryptoFactoryDef& factory() {
    static const std::unique_ptr<CryptoFactoryDef> instance = [] {
        auto f = std::make_unique<CryptoFactoryDef>();
        f->initialize(nullptr, 0);
        return f;
    }();
    return *instance;
}

// AES-256-CBC over n bytes in one call, in either direction.
void BM_Cbc(benchmark::State& state, bool encrypt) {
    auto algorithm = factory().create_symmetric(L"");
    algorithm->generate_key();
    auto encrypter = algorithm->create_encrypter();
    encrypter->set_iv(Bytes(16, 1));
    const auto n = static_cast<std::size_t>(state.range(0));
    const Bytes in(n, 0x33);
    Bytes out(n);
    for (auto _ : state) {
        if (encrypt) {
            encrypter->encrypt(in.data(), n, out.data());
        } else {
            encrypter->decrypt(in.data(), n, out.data());
        }
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * n));
}
BENCHMARK_CAPTURE(BM_Cbc, Encrypt, true)->Arg(16)->Arg(4096)->Arg(65536);
BENCHMARK_CAPTURE(BM_Cbc, Decrypt, false)->Arg(4096)->Arg(65536);

void BM_ContainerImport(benchmark::State& state) {
    const auto iterations = static_cast<std::uint32_t>(state.range(0));
    const Bytes container =
        factory().create_key_agreement(L"")->create_container(kPassword, kCreated, iterations);
    auto agreement = factory().create_key_agreement(L"");
    for (auto _ : state) {
        agreement->import_container(container.data(), container.size(), kPassword);
    }
}
BENCHMARK(BM_ContainerImport)->Arg(1000)->Arg(600000)->Unit(benchmark::kMillisecond);

void BM_ContainerCreate(benchmark::State& state) {
    auto agreement = factory().create_key_agreement(L"");
    for (auto _ : state) {
        benchmark::DoNotOptimize(agreement->create_container(kPassword, kCreated, 1000));
    }
}
BENCHMARK(BM_ContainerCreate)->Unit(benchmark::kMicrosecond);

// Server side of one handshake's cryptography: answer the client, derive the session key,
// open it into an encrypter.
void BM_ServerKeyAgreement(benchmark::State& state) {
    auto server = factory().create_key_agreement(L"");
    server->create_container(kPassword, kCreated, 1000);
    const Bytes hello = factory().create_key_agreement(L"")->create_client_key_material();
    for (auto _ : state) {
        auto answer = server->import_key_material(RawMemoryDefault::view(hello.data(), 32));
        const Bytes sealed = server->get_symmetric_key_container(kPassword);
        auto algorithm = factory().create_symmetric(L"");
        algorithm->import_key(kPassword, sealed.data(), sealed.size());
        benchmark::DoNotOptimize(algorithm->create_encrypter());
    }
}
BENCHMARK(BM_ServerKeyAgreement)->Unit(benchmark::kMicrosecond);

void BM_WrapAndUnwrapKey(benchmark::State& state) {
    auto recipient = factory().create_asymmetric(L"");
    recipient->initialize();
    auto key = factory().create_symmetric(L"");
    key->generate_key();
    auto opened = factory().create_symmetric(L"");
    for (auto _ : state) {
        const Bytes wrapped = key->export_wrapped_key(*recipient);
        opened->import_wrapped_key(wrapped.data(), wrapped.size(), *recipient);
    }
}
BENCHMARK(BM_WrapAndUnwrapKey)->Unit(benchmark::kMicrosecond);

void BM_NistCheck32Bytes(benchmark::State& state) {
    auto checker = factory().create_sequence_checker(L"nist");
    auto random = factory().create_random(L"");
    Bytes bytes(32);
    random->generate(bytes.data(), bytes.size());
    for (auto _ : state) {
        checker->load(bytes);
        benchmark::DoNotOptimize(checker->test(0));
    }
}
BENCHMARK(BM_NistCheck32Bytes)->Unit(benchmark::kMicrosecond);

void BM_Random(benchmark::State& state) {
    auto random = factory().create_random(L"");
    Bytes bytes(static_cast<std::size_t>(state.range(0)));
    for (auto _ : state) {
        random->generate(bytes.data(), bytes.size());
        benchmark::DoNotOptimize(bytes.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes.size()));
}
BENCHMARK(BM_Random)->Arg(32)->Arg(4096);

}  // namespace

BENCHMARK_MAIN();
