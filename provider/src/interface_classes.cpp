// The abstract interface classes keep their destructors here, so their vtables and type
// information live once, in the library.
#include "ztcrypto/asymmetric_encrypter.h"
#include "ztcrypto/hash_algorithm.h"
#include "ztcrypto/key_agreement.h"
#include "ztcrypto/random.h"
#include "ztcrypto/sequence_checker.h"
#include "ztcrypto/symmetric_algorithm.h"
#include "ztcrypto/symmetric_encrypter.h"

SequenceCheckerBase::~SequenceCheckerBase() = default;
RandomBase::~RandomBase() = default;
HashAlgorithmBase::~HashAlgorithmBase() = default;
SymmetricAlgoritmBase::~SymmetricAlgoritmBase() = default;
SymmetricEncrypter::~SymmetricEncrypter() = default;
DiffieHellmanBase::~DiffieHellmanBase() = default;
AsymmetcricEncrypterBase::~AsymmetcricEncrypterBase() = default;
