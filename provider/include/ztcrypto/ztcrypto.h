#pragma once

// The whole public interface of the crypto provider library (libztcrypto.so).
#include "ztcrypto/asymmetric_encrypter.h"
#include "ztcrypto/crypto_factory_def.h"
#include "ztcrypto/exception.h"
#include "ztcrypto/hash_algorithm.h"
#include "ztcrypto/key_agreement.h"
#include "ztcrypto/random.h"
#include "ztcrypto/raw_memory.h"
#include "ztcrypto/sequence_checker.h"
#include "ztcrypto/symmetric_algorithm.h"
#include "ztcrypto/symmetric_encrypter.h"
