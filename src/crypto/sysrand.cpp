#include "crypto/sysrand.h"

#include <chrono>
#include <limits>
#include <random>

namespace randgen {

namespace {

std::uint64_t make_seed() {
    std::random_device device("default");
    const std::uint64_t r = device();
    const auto now = std::chrono::system_clock::now().time_since_epoch();
    const auto seconds =
        static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::seconds>(now).count());
    const auto micros = static_cast<std::uint64_t>(
        std::chrono::duration_cast<std::chrono::microseconds>(now).count());
    return (seconds + micros) ^ r;
}

}  // namespace

std::vector<std::uint8_t> system(std::size_t n) {
    // No values are drawn (and the device is not opened) when nothing can be returned.
    if (n % 8 != 0 || n == 0) {
        return {};
    }
    return from_seed(make_seed(), n);
}

std::vector<std::uint8_t> from_seed(std::uint64_t seed, std::size_t n) {
    if (n % 8 != 0) {
        return {};
    }
    std::mt19937_64 engine(seed);
    std::uniform_int_distribution<std::uint64_t> distribution(
        0, std::numeric_limits<std::uint64_t>::max());
    std::vector<std::uint8_t> out;
    out.reserve(n);
    for (std::size_t i = 0; i < n / 8; ++i) {
        const std::uint64_t value = distribution(engine);
        for (int shift = 0; shift < 64; shift += 8) {
            out.push_back(static_cast<std::uint8_t>(value >> shift));
        }
    }
    return out;
}

}  // namespace randgen
