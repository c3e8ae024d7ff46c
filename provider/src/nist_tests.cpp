#include "nist_tests.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace ztcrypto_detail::nist {

namespace {

// The standard normal distribution function.
double normal_cdf(double z) {
    return 0.5 * std::erfc(-z / std::sqrt(2.0));
}

// Q(a, x) by its continued fraction, good for x >= a + 1 (modified Lentz).
double igamc_fraction(double a, double x) {
    constexpr double tiny = 1e-300;
    double b = x + 1.0 - a;
    double c = 1.0 / tiny;
    double d = 1.0 / b;
    double h = d;
    for (int i = 1; i < 10000; ++i) {
        const double an = -i * (i - a);
        b += 2.0;
        d = an * d + b;
        if (std::fabs(d) < tiny) {
            d = tiny;
        }
        c = b + an / c;
        if (std::fabs(c) < tiny) {
            c = tiny;
        }
        d = 1.0 / d;
        const double delta = d * c;
        h *= delta;
        if (std::fabs(delta - 1.0) < 1e-15) {
            break;
        }
    }
    return std::exp(-x + a * std::log(x) - std::lgamma(a)) * h;
}

// P(a, x) by its series, good for x < a + 1.
double igam_series(double a, double x) {
    double term = 1.0 / a;
    double sum = term;
    for (int n = 1; n < 10000; ++n) {
        term *= x / (a + n);
        sum += term;
        if (std::fabs(term) < std::fabs(sum) * 1e-15) {
            break;
        }
    }
    return sum * std::exp(-x + a * std::log(x) - std::lgamma(a));
}

}  // namespace

Bits to_bits(const std::vector<std::uint8_t>& bytes) {
    Bits bits;
    bits.reserve(bytes.size() * 8);
    for (std::uint8_t byte : bytes) {
        for (int i = 7; i >= 0; --i) {
            bits.push_back(static_cast<std::uint8_t>((byte >> i) & 1));
        }
    }
    return bits;
}

double igamc(double a, double x) {
    if (x <= 0.0) {
        return 1.0;
    }
    if (x < a + 1.0) {
        return 1.0 - igam_series(a, x);
    }
    return igamc_fraction(a, x);
}

double frequency(const Bits& bits) {
    if (bits.empty()) {
        return 0.0;
    }
    long sum = 0;
    for (std::uint8_t bit : bits) {
        sum += bit != 0 ? 1 : -1;
    }
    const double s_obs = std::fabs(static_cast<double>(sum)) / std::sqrt(bits.size());
    return std::erfc(s_obs / std::sqrt(2.0));
}

double block_frequency(const Bits& bits, std::size_t block) {
    const std::size_t blocks = block == 0 ? 0 : bits.size() / block;
    if (blocks == 0) {
        return 0.0;
    }
    double chi_squared = 0.0;
    for (std::size_t i = 0; i < blocks; ++i) {
        std::size_t ones = 0;
        for (std::size_t j = 0; j < block; ++j) {
            ones += bits[i * block + j];
        }
        const double pi = static_cast<double>(ones) / static_cast<double>(block);
        chi_squared += (pi - 0.5) * (pi - 0.5);
    }
    chi_squared *= 4.0 * static_cast<double>(block);
    return igamc(static_cast<double>(blocks) / 2.0, chi_squared / 2.0);
}

double runs(const Bits& bits) {
    const std::size_t n = bits.size();
    if (n == 0) {
        return 0.0;
    }
    std::size_t ones = 0;
    for (std::uint8_t bit : bits) {
        ones += bit;
    }
    const double pi = static_cast<double>(ones) / static_cast<double>(n);
    if (std::fabs(pi - 0.5) >= 2.0 / std::sqrt(static_cast<double>(n))) {
        return 0.0;
    }
    std::size_t v_obs = 1;
    for (std::size_t k = 0; k + 1 < n; ++k) {
        v_obs += bits[k] != bits[k + 1] ? 1 : 0;
    }
    const double dn = static_cast<double>(n);
    return std::erfc(std::fabs(static_cast<double>(v_obs) - 2.0 * dn * pi * (1.0 - pi)) /
                     (2.0 * std::sqrt(2.0 * dn) * pi * (1.0 - pi)));
}

double longest_run_of_ones(const Bits& bits) {
    const std::size_t n = bits.size();
    std::size_t block = 0;
    std::size_t first = 0;  // longest run counted in the first category (and below)
    std::vector<double> pi;
    if (n < 128) {
        return 0.0;
    } else if (n < 6272) {
        block = 8;
        first = 1;
        pi = {0.21484375, 0.3671875, 0.23046875, 0.1875};
    } else if (n < 750000) {
        block = 128;
        first = 4;
        pi = {0.1174035788, 0.242955959, 0.249363483, 0.17517706, 0.102701071, 0.112398847};
    } else {
        block = 10000;
        first = 10;
        pi = {0.0882, 0.2092, 0.2483, 0.1933, 0.1208, 0.0675, 0.0727};
    }
    const std::size_t k = pi.size() - 1;
    const std::size_t blocks = n / block;
    std::vector<double> counts(pi.size(), 0.0);
    for (std::size_t i = 0; i < blocks; ++i) {
        std::size_t longest = 0;
        std::size_t run = 0;
        for (std::size_t j = 0; j < block; ++j) {
            run = bits[i * block + j] != 0 ? run + 1 : 0;
            longest = std::max(longest, run);
        }
        const std::size_t category = std::min(k, longest <= first ? 0 : longest - first);
        counts[category] += 1.0;
    }
    double chi_squared = 0.0;
    const auto nb = static_cast<double>(blocks);
    for (std::size_t i = 0; i < pi.size(); ++i) {
        const double expected = nb * pi[i];
        chi_squared += (counts[i] - expected) * (counts[i] - expected) / expected;
    }
    return igamc(static_cast<double>(k) / 2.0, chi_squared / 2.0);
}

double cumulative_sums(const Bits& bits, bool reverse) {
    const auto n = static_cast<long>(bits.size());
    if (n == 0) {
        return 0.0;
    }
    long sum = 0;
    long z = 0;
    for (long i = 0; i < n; ++i) {
        const std::uint8_t bit = bits[static_cast<std::size_t>(reverse ? n - 1 - i : i)];
        sum += bit != 0 ? 1 : -1;
        z = std::max(z, std::labs(sum));
    }
    const double root_n = std::sqrt(static_cast<double>(n));
    const auto dz = static_cast<double>(z);
    double sum1 = 0.0;
    // Integer bounds, truncated toward zero, as in the test's definition.
    for (long k = (-n / z + 1) / 4; k <= (n / z - 1) / 4; ++k) {
        sum1 += normal_cdf(static_cast<double>(4 * k + 1) * dz / root_n);
        sum1 -= normal_cdf(static_cast<double>(4 * k - 1) * dz / root_n);
    }
    double sum2 = 0.0;
    for (long k = (-n / z - 3) / 4; k <= (n / z - 1) / 4; ++k) {
        sum2 += normal_cdf(static_cast<double>(4 * k + 3) * dz / root_n);
        sum2 -= normal_cdf(static_cast<double>(4 * k + 1) * dz / root_n);
    }
    return 1.0 - sum1 + sum2;
}

std::size_t block_frequency_length(std::size_t n) {
    return std::max<std::size_t>(20, n / 99 + 1);
}

}  // namespace ztcrypto_detail::nist
