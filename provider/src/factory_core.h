#pragma once

#include <memory>

#include "drbg.h"

namespace ztcrypto_detail {

// The state a factory shares with every object it creates: its parent random generator.
// Objects keep the core alive, so they outlive the factory that made them.
struct FactoryCore {
    std::shared_ptr<Drbg> drbg;
};

}  // namespace ztcrypto_detail
