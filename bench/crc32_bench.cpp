// CRC-32 throughput of the session checksum beside zlib's crc32 and a plain bytewise table
// loop, on packet-sized and bulk buffers.
#include <benchmark/benchmark.h>
#include <zlib.h>

#include <array>
#include <cstdint>
#include <random>
#include <vector>

#include "session/crc32.h"

namespace {

constexpr std::array<std::uint32_t, 256> make_byte_table() {
    std::array<std::uint32_t, 256> t{};
    for (std::uint32_t i = 0; i < 256; ++i) {
        std::uint32_t c = i;
        for (int bit = 0; bit < 8; ++bit) {
            c = (c & 1u) ? (c >> 1) ^ 0xEDB88320u : c >> 1;
        }
        t[i] = c;
    }
    return t;
}

constexpr auto kByteTable = make_byte_table();

std::uint32_t crc32_bytewise(const unsigned char* p, std::size_t n) {
    std::uint32_t crc = 0xFFFFFFFFu;
    while (n-- > 0) {
        crc = (crc >> 8) ^ kByteTable[(crc ^ *p++) & 0xFFu];
    }
    return ~crc;
}

const std::vector<unsigned char>& buffer() {
    static const std::vector<unsigned char> data = [] {
        std::mt19937 rng(1);
        std::vector<unsigned char> out(1 << 20);
        for (auto& c : out) {
            c = static_cast<unsigned char>(rng());
        }
        return out;
    }();
    return data;
}

void BM_Crc32Sliced(benchmark::State& state) {
    const auto n = static_cast<std::size_t>(state.range(0));
    const unsigned char* p = buffer().data();
    for (auto _ : state) {
        benchmark::DoNotOptimize(crc32(p, n, 0, kCrc32Prefetch));
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * n));
}

void BM_Crc32Zlib(benchmark::State& state) {
    const auto n = static_cast<uInt>(state.range(0));
    const unsigned char* p = buffer().data();
    for (auto _ : state) {
        benchmark::DoNotOptimize(::crc32(0L, p, n));
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * n));
}

void BM_Crc32Bytewise(benchmark::State& state) {
    const auto n = static_cast<std::size_t>(state.range(0));
    const unsigned char* p = buffer().data();
    for (auto _ : state) {
        benchmark::DoNotOptimize(crc32_bytewise(p, n));
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * n));
}

void sizes(benchmark::internal::Benchmark* b) {
    for (std::int64_t n : {64, 1024, 64 * 1024, 1024 * 1024}) {
        b->Arg(n);
    }
}

BENCHMARK(BM_Crc32Sliced)->Apply(sizes);
BENCHMARK(BM_Crc32Zlib)->Apply(sizes);
BENCHMARK(BM_Crc32Bytewise)->Apply(sizes);

}  // namespace

BENCHMARK_MAIN();
