// The one factory a provider fuzz target uses for its whole run: initializing a factory
// seeds a DRBG, far too slow to repeat for every input.
#pragma once

#include "ztcrypto/ztcrypto.h"

inline CryptoFactoryDef& fuzz_factory() {
    static CryptoFactoryDef instance;
    static const bool initialized = (instance.initialize(nullptr, 0), true);
    static_cast<void>(initialized);
    return instance;
}
