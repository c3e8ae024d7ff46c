// The key store a client packs for the service and the daemon unpacks.

#include "handlers/container.h"

#include <gtest/gtest.h>

#include "crypto/crypto_factory.h"
#include "database/serializer.h"

namespace {

using bytes = std::vector<unsigned char>;

crypto_factory seeded() {
    crypto_factory factory;
    EXPECT_TRUE(factory.initialize(bytes(32, 7)));
    return factory;
}

// A key store packed by a client that knows only the service's public key.
bytes pack_for(const crypto_factory& factory, const asymmetric_encryptor& service,
               Container::Keystore&& secret) {
    std::error_code ec;
    asymmetric_encryptor client;
    EXPECT_TRUE(client.initialize(factory, ec));
    EXPECT_TRUE(client.import_public_key(service.get_public_key(ec), ec)) << ec.message();
    Container::Datastore store;
    store.service.container = {1, 2, 3};
    store.service.material = {4, 5};
    store.keystore = std::move(secret);
    return store.pack(client, ec);
}

TEST(Datastore, PackedByTheClientUnpacksWithTheServiceKeyOnly) {
    const crypto_factory factory = seeded();
    std::error_code ec;
    asymmetric_encryptor service;
    ASSERT_TRUE(service.initialize(factory, ec));
    const bytes file = pack_for(factory, service, Container::Keystore(bytes(32, 9), bytes{8, 8}));
    ASSERT_FALSE(file.empty());

    Container::Datastore opened;
    ASSERT_TRUE(opened.unpack(service, file, ec)) << ec.message();
    EXPECT_EQ(opened.keystore.key, bytes(32, 9));
    EXPECT_EQ(opened.keystore.parameter, (bytes{8, 8}));
    EXPECT_EQ(opened.service.container, (bytes{1, 2, 3}));
    EXPECT_EQ(opened.service.material, (bytes{4, 5}));
    EXPECT_EQ(opened.ephemeral.iv.size(), 16u);
    const auto [key, material] = Container::extract_key(factory, service, file, ec);
    EXPECT_EQ(key, bytes(32, 9));
    EXPECT_EQ(material, (bytes{4, 5}));

    // Another service key, or a changed byte of the secret part, opens nothing.
    asymmetric_encryptor other;
    ASSERT_TRUE(other.initialize(factory, ec));
    Container::Datastore refused;
    EXPECT_FALSE(refused.unpack(other, file, ec));
    EXPECT_TRUE(ec);
    EXPECT_FALSE(refused.keystore);
    Serializer items;
    items.deserialize(file);
    items[0][items[0].size() / 2] ^= 1;
    EXPECT_FALSE(refused.unpack(service, items.serialize(), ec));
    EXPECT_TRUE(ec);
    const auto none = Container::extract_key(factory, service, items.serialize(), ec);
    EXPECT_TRUE(none.first.empty() && none.second.empty() && ec);
}

}  // namespace
