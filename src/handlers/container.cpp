#include "handlers/container.h"

#include "crypto/crypto_factory.h"
#include "crypto/sysrand.h"
#include "database/serializer.h"
#include "system/wipe.h"

namespace Container {

namespace {

constexpr std::size_t kIvSize = 16;
constexpr std::size_t kDatastoreItems = 5;

}  // namespace

Keystore& Keystore::operator=(Keystore&& other) noexcept {
    if (this != &other) {
        util::wipe(key);
        util::wipe(parameter);
        key = std::move(other.key);
        parameter = std::move(other.parameter);
    }
    return *this;
}

Keystore::~Keystore() {
    util::wipe(key);
    util::wipe(parameter);
}

Keystore::bytes Keystore::serialize() const {
    Serializer frame;
    frame.push_back(key);
    frame.push_back(parameter);
    return frame.serialize();
}

void Keystore::deserialize(const bytes& data) {
    if (data.empty()) {
        return;
    }
    Serializer frame;
    frame.deserialize(data);
    util::wipe(key);
    util::wipe(parameter);
    key = frame.pop_front();
    parameter = frame.pop_front();
    for (std::size_t i = 0; i < frame.size(); ++i) {
        util::wipe(frame[i]);
    }
}

Datastore::bytes Datastore::pack(asymmetric_encryptor& cipher, std::error_code& ec) {
    ephemeral.iv = randgen::system(kIvSize);
    ephemeral.wrapped_key = cipher.prepare_encrypt(ephemeral.iv, ec);
    if (ephemeral.wrapped_key.empty()) {
        return {};
    }
    bytes secret = keystore.serialize();
    bytes encrypted = cipher.encrypt(secret, ec);
    util::wipe(secret);
    if (ec) {
        return {};
    }
    return serialize(std::move(encrypted));
}

Datastore::bytes Datastore::serialize(bytes&& encrypted_keystore) const {
    Serializer frame;
    frame.push_back(std::move(encrypted_keystore));
    frame.push_back(service.container);
    frame.push_back(service.material);
    frame.push_back(ephemeral.iv);
    frame.push_back(ephemeral.wrapped_key);
    return frame.serialize();
}

Datastore::bytes Datastore::deserialize(const bytes& data) {
    if (data.empty()) {
        return {};
    }
    Serializer frame;
    frame.deserialize(data);
    bytes encrypted = frame.pop_front();
    service.container = frame.pop_front();
    service.material = frame.pop_front();
    ephemeral.iv = frame.pop_front();
    ephemeral.wrapped_key = frame.pop_front();
    return encrypted;
}

bool Datastore::unpack(asymmetric_encryptor& cipher, const bytes& data, std::error_code& ec) {
    const bytes encrypted = deserialize(data);
    if (!cipher.prepare_decrypt(ephemeral.iv, ephemeral.wrapped_key, ec)) {
        return false;
    }
    bytes secret = cipher.decrypt(encrypted, ec);
    keystore = Keystore{};
    if (ec) {
        return false;
    }
    keystore.deserialize(secret);
    util::wipe(secret);
    return true;
}

bool Datastore::unpack(const bytes& data) {
    if (data.empty()) {
        return false;
    }
    Serializer frame;
    frame.deserialize(data);
    if (frame.size() != kDatastoreItems) {
        return false;
    }
    service.container = frame[1];
    service.material = frame[2];
    return true;
}

std::pair<std::vector<unsigned char>, std::vector<unsigned char>> extract_key(
    const crypto_factory& factory, asymmetric_encryptor cipher,
    const std::vector<unsigned char>& data, std::error_code& ec) {
    if (!cipher.initialize(factory, ec)) {
        return {};
    }
    Datastore store;
    if (!store.unpack(cipher, data, ec)) {
        return {};
    }
    return {std::move(store.keystore.key), std::move(store.service.material)};
}

}  // namespace Container
