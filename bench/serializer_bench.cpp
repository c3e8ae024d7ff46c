// Encode and decode of a 1000-item frame of 1 KiB items: throughput and heap allocations
// per operation (counted by the replaced global operator new of allocation_counter.cpp).
#include <benchmark/benchmark.h>

#include <vector>

#include "allocation_counter.h"
#include "database/serializer.h"

namespace {

constexpr std::size_t kItems = 1000;
constexpr std::size_t kItemSize = 1024;

Serializer make_frame() {
    Serializer s;
    for (std::size_t i = 0; i < kItems; ++i) {
        s.push_back(std::vector<unsigned char>(kItemSize, static_cast<unsigned char>(i)));
    }
    return s;
}

void report(benchmark::State& state, std::size_t bytes, std::size_t allocations) {
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes));
    state.counters["allocs_per_op"] =
        static_cast<double>(allocations) / static_cast<double>(state.iterations());
    state.counters["allocs_per_item"] =
        static_cast<double>(allocations) / static_cast<double>(state.iterations() * kItems);
}

void BM_SerializerEncode(benchmark::State& state) {
    const Serializer frame = make_frame();
    const std::size_t size = frame.serialize().size();
    const std::size_t before = allocation_count();
    for (auto _ : state) {
        auto encoded = frame.serialize();
        benchmark::DoNotOptimize(encoded.data());
    }
    report(state, size, allocation_count() - before);
}

void BM_SerializerDecode(benchmark::State& state) {
    const auto encoded = make_frame().serialize();
    const std::size_t before = allocation_count();
    for (auto _ : state) {
        Serializer decoded;
        decoded.deserialize(encoded);
        benchmark::DoNotOptimize(decoded.size());
    }
    report(state, encoded.size(), allocation_count() - before);
}

// Decoding as a record decoder does it: deserialize, then take every item from the front.
void BM_SerializerDecodeAndPop(benchmark::State& state) {
    const auto encoded = make_frame().serialize();
    const std::size_t before = allocation_count();
    for (auto _ : state) {
        Serializer decoded;
        decoded.deserialize(encoded);
        while (!decoded.empty()) {
            auto item = decoded.pop_front();
            benchmark::DoNotOptimize(item.data());
        }
    }
    report(state, encoded.size(), allocation_count() - before);
}

BENCHMARK(BM_SerializerEncode);
BENCHMARK(BM_SerializerDecode);
BENCHMARK(BM_SerializerDecodeAndPop);

}  // namespace

BENCHMARK_MAIN();
