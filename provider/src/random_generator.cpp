#include "random_generator.h"

#include "failure.h"

namespace ztcrypto_detail {

void RandomGenerator::generate(std::uint8_t* buffer, std::size_t n) {
    static const char* const method = "Random::generate";
    guarded(method, [&] {
        if (buffer == nullptr && n != 0) {
            throw InvalidArgumentException("buffer", method, "is null");
        }
        drbg_->generate(buffer, n);
    });
}

}  // namespace ztcrypto_detail
