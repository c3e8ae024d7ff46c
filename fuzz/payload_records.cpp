// The request payload records that clients send ("Add"/"Remove" profiles, "Create" disks,
// UUID requests, key stores) decoded from any bytes, as the handlers decode request bodies.
// Decoding must not read past the input; an empty input changes nothing; what a record
// decoded must encode to a frame that decodes to the same record; and the key store a
// client encrypted to the service opens only to the record it was made from.
#include <cstddef>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>
#include <system_error>
#include <vector>

#include "crypto/asymmetric_encryptor.h"
#include "crypto/crypto_factory.h"
#include "database/serializer.h"
#include "fuzz_input.h"
#include "handlers/container.h"
#include "handlers/disk.h"
#include "handlers/disk_control.h"
#include "handlers/profile.h"

namespace {

using fuzz::bytes;
using fuzz::check;

// The service's key pair: that of the reference container, so that seeds packed for it stay
// valid across runs.
struct service {
    crypto_factory factory;
    asymmetric_encryptor cipher;

    service() {
        factory.initialize(bytes(32, 3));
        std::ifstream in(ZT_FUZZ_SERVICE_CONTAINER, std::ios::binary);
        const bytes container((std::istreambuf_iterator<char>(in)),
                              std::istreambuf_iterator<char>());
        auto asymmetric = factory.self()->create_asymmetric(L"");
        asymmetric->import_container(container.data(), container.size(), L"reference-password");
        cipher = asymmetric_encryptor(asymmetric);
    }
};

service& shared() {
    static service instance;
    return instance;
}

void check_profile(const bytes& input) {
    Container::Profile first("kept", "/kept");
    first.deserialize(input);
    if (input.empty()) {
        check(first.name == "kept" && first.path == "/kept");
    }
    const bytes encoded = first.serialize();
    Container::Profile second;
    second.deserialize(encoded);
    check(second.name == first.name && second.path == first.path);
    check(second.serialize() == encoded);
}

void check_disk(const bytes& input) {
    Container::Disk first("kept", "/kept", "ext4", 7);
    first.deserialize(input);
    if (input.empty()) {
        check(first.user_name == "kept" && first.size == 7);
    }
    const bytes encoded = first.serialize();
    Container::Disk second;
    second.deserialize(encoded);
    check(second.user_name == first.user_name && second.path == first.path &&
          second.fs == first.fs && second.size == first.size);
    check(second.serialize() == encoded);

    // A size item of any length but 8 reads as 0.
    Serializer items;
    items.deserialize(input);
    if (items.size() >= 4 && items[3].size() != 8) {
        check(first.size == 0);
    }
}

void check_disk_control(const bytes& input) {
    DiskControl first("kept");
    first.deserialize(input);
    if (input.empty()) {
        check(first.uuid == "kept" && first.data.empty());
    }
    const bytes encoded = first.serialize();
    DiskControl second;
    second.deserialize(encoded);
    check(second.uuid == first.uuid && second.data == first.data);
    check(second.serialize() == encoded);
}

void check_keystore(const bytes& input) {
    Container::Keystore first({1}, {2});
    first.deserialize(input);
    if (input.empty()) {
        check(first.key == bytes{1} && first.parameter == bytes{2});
    }
    check(static_cast<bool>(first) == (!first.key.empty() && !first.parameter.empty()));
    const bytes encoded = first.serialize();
    Container::Keystore second;
    second.deserialize(encoded);
    check(second.key == first.key && second.parameter == first.parameter);
}

void check_datastore(const bytes& input) {
    Container::Datastore first;
    const bytes encrypted = first.deserialize(input);
    const bytes encoded = first.serialize(bytes(encrypted));
    Container::Datastore second;
    check(second.deserialize(encoded) == encrypted);
    check(second.service.container == first.service.container &&
          second.service.material == first.service.material &&
          second.ephemeral.iv == first.ephemeral.iv &&
          second.ephemeral.wrapped_key == first.ephemeral.wrapped_key);

    // The clear part alone: exactly five items, or nothing taken.
    Serializer items;
    items.deserialize(input);
    Container::Datastore clear;
    clear.service.material = {9};
    const bool taken = clear.unpack(input);
    check(taken == (!input.empty() && items.size() == 5));
    if (taken) {
        check(clear.service.container == items[1] && clear.service.material == items[2]);
    } else {
        check(clear.service.material == bytes{9});
    }

    // The daemon's side: open the key store with the service key.
    std::error_code ec;
    const auto [key, material] =
        Container::extract_key(shared().factory, shared().cipher, input, ec);
    if (ec) {
        check(key.empty() && material.empty());
    } else {
        check(material == first.service.material);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const bytes input(data, data + size);
    check_profile(input);
    check_disk(input);
    check_disk_control(input);
    check_keystore(input);
    check_datastore(input);
    return 0;
}
