// The session cipher's encrypt and decrypt beside raw OpenSSL AES-256-CBC on the same
// buffers, the cryptography of one server handshake, and the start-up random vector.
#include <benchmark/benchmark.h>
#include <openssl/evp.h>

#include <cstdlib>
#include <ctime>
#include <memory>
#include <string>
#include <vector>

#include "crypto/checker.h"
#include "crypto/crypto_factory.h"
#include "crypto/crypto_service.h"
#include "crypto/genrand.h"
#include "crypto/hasher.h"
#include "crypto/sysrand.h"
#include "ztcrypto/ztcrypto.h"

namespace {

using bytes = std::vector<std::uint8_t>;

const std::wstring kServicePassword = L"5e7a0c1d9f2b4a6e8c0d1f3a5b7c9e0f";
const std::wstring kSessionPassword = L"session token";
const bytes kIv(16, 0x24);
constexpr std::time_t kCreated = 1706745599;

crypto_factory& factory() {
    static crypto_factory f = [] {
        crypto_factory made;
        if (!made.initialize(bytes(32, 0x5A))) {
            std::abort();
        }
        return made;
    }();
    return f;
}

const bytes& service_container() {
    static const bytes container = factory().self()->create_key_agreement(L"")->create_container(
        kServicePassword, kCreated, 1000);
    return container;
}

// A client's key material for the server to answer.
bytes client_key_material() {
    return factory().self()->create_key_agreement(L"")->create_client_key_material();
}

// A server session cipher with its encryptor set up, ready for the secure context.
crypto_service& open_session() {
    static crypto_service service = [] {
        crypto_service made;
        std::error_code ec;
        if (!made.initialize(factory(), ec) ||
            !made.import_container(kServicePassword, service_container(), ec) ||
            !made.import_key_material(client_key_material(), ec) ||
            !made.create_encryptor(kSessionPassword, ec) || !made.set_iv(kIv, ec)) {
            std::abort();
        }
        return made;
    }();
    return service;
}

bytes payload(std::size_t n) {
    bytes out(n);
    for (std::size_t i = 0; i < n; ++i) {
        out[i] = static_cast<std::uint8_t>(i * 31 + 7);
    }
    return out;
}

void BM_SessionEncrypt(benchmark::State& state) {
    crypto_service& service = open_session();
    const bytes plain = payload(static_cast<std::size_t>(state.range(0)));
    std::error_code ec;
    for (auto _ : state) {
        bytes cipher = service.encrypt(plain, ec);
        benchmark::DoNotOptimize(cipher.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * state.range(0));
}

void BM_SessionDecrypt(benchmark::State& state) {
    crypto_service& service = open_session();
    std::error_code ec;
    const bytes cipher = service.encrypt(payload(static_cast<std::size_t>(state.range(0))), ec);
    for (auto _ : state) {
        bytes plain = service.decrypt(cipher, ec);
        benchmark::DoNotOptimize(plain.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * state.range(0));
}

// Raw EVP with the same restart-from-IV per call as the session cipher, into a buffer
// allocated once, with the cipher fetched and the key scheduled once: the floor the wrapper
// is measured against.
void raw_evp(benchmark::State& state, bool encrypt) {
    const bytes key(32, 0x11);
    const bytes in = payload(static_cast<std::size_t>(state.range(0)));
    bytes out(in.size());
    std::unique_ptr<EVP_CIPHER, decltype(&EVP_CIPHER_free)> cipher(
        EVP_CIPHER_fetch(nullptr, "AES-256-CBC", nullptr), EVP_CIPHER_free);
    std::unique_ptr<EVP_CIPHER_CTX, decltype(&EVP_CIPHER_CTX_free)> ctx(EVP_CIPHER_CTX_new(),
                                                                        EVP_CIPHER_CTX_free);
    if (!cipher || !ctx ||
        EVP_CipherInit_ex2(ctx.get(), cipher.get(), key.data(), kIv.data(), encrypt ? 1 : 0,
                           nullptr) != 1 ||
        EVP_CIPHER_CTX_set_padding(ctx.get(), 0) != 1) {
        state.SkipWithError("EVP set-up failed");
        return;
    }
    for (auto _ : state) {
        int written = 0;
        int last = 0;
        if (EVP_CipherInit_ex2(ctx.get(), nullptr, nullptr, kIv.data(), -1, nullptr) != 1 ||
            EVP_CipherUpdate(ctx.get(), out.data(), &written, in.data(),
                             static_cast<int>(in.size())) != 1 ||
            EVP_CipherFinal_ex(ctx.get(), out.data() + written, &last) != 1) {
            state.SkipWithError("EVP failed");
            break;
        }
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * state.range(0));
}

void BM_RawEvpEncrypt(benchmark::State& state) {
    raw_evp(state, true);
}
void BM_RawEvpDecrypt(benchmark::State& state) {
    raw_evp(state, false);
}

// What the server computes for one session: initialize from the shared factory, open the
// service container, answer the client's key material, build the encryptor and set its IV.
void BM_ServerHandshake(benchmark::State& state) {
    const bytes& container = service_container();
    const bytes material = client_key_material();
    std::error_code ec;
    for (auto _ : state) {
        crypto_service service;
        if (!service.initialize(factory(), ec) ||
            !service.import_container(kServicePassword, container, ec) ||
            !service.import_key_material(material, ec) ||
            !service.create_encryptor(kSessionPassword, ec) || !service.set_iv(kIv, ec)) {
            state.SkipWithError(ec.message().c_str());
            break;
        }
        benchmark::DoNotOptimize(service.ready());
    }
}

// The part of the handshake spent opening the service container (both objects).
void BM_ImportServiceContainer(benchmark::State& state) {
    const bytes& container = service_container();
    std::error_code ec;
    crypto_service service;
    if (!service.initialize(factory(), ec)) {
        state.SkipWithError(ec.message().c_str());
        return;
    }
    for (auto _ : state) {
        if (!service.import_container(kServicePassword, container, ec)) {
            state.SkipWithError(ec.message().c_str());
            break;
        }
    }
}

void BM_StartupRandomVector(benchmark::State& state) {
    std::error_code ec;
    for (auto _ : state) {
        bytes vector = misc::get_random_vector(factory(), ec);
        if (vector.empty()) {
            state.SkipWithError(ec.message().c_str());
            break;
        }
        benchmark::DoNotOptimize(vector.data());
    }
}

// The bound: every one of the 512 + 4096 candidates drawn, hashed and checked by the real
// checker, which is then overruled so that none passes.
void BM_StartupRandomVectorAllRoundsFail(benchmark::State& state) {
    RandomChecker checker;
    Hasher hasher;
    std::error_code ec;
    if (!checker.initialize(factory(), ec) || !hasher.initialize(factory(), ec)) {
        state.SkipWithError(ec.message().c_str());
        return;
    }
    const misc::random_vector_steps steps{
        randgen::system,
        [&hasher](const bytes& candidate, std::error_code& e) { return hasher.hash(candidate, e); },
        [&checker](const bytes& digest, std::error_code& e) {
            benchmark::DoNotOptimize(checker.check(digest, e));
            return false;
        },
    };
    for (auto _ : state) {
        bytes vector = misc::get_random_vector(steps, ec);
        benchmark::DoNotOptimize(vector.data());
    }
}

}  // namespace

BENCHMARK(BM_SessionEncrypt)->Arg(64)->Arg(4096)->Arg(1 << 20);
BENCHMARK(BM_RawEvpEncrypt)->Arg(64)->Arg(4096)->Arg(1 << 20);
BENCHMARK(BM_SessionDecrypt)->Arg(64)->Arg(4096)->Arg(1 << 20);
BENCHMARK(BM_RawEvpDecrypt)->Arg(64)->Arg(4096)->Arg(1 << 20);
BENCHMARK(BM_ServerHandshake)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ImportServiceContainer)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_StartupRandomVector)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_StartupRandomVectorAllRoundsFail)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
