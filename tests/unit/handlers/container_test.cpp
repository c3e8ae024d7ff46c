// The key store a client packs for the service and the daemon unpacks.

#include "handlers/container.h"

#include <cstring>
#include <tuple>

#include "handlers/disk.h"

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

TEST(Datastore, ClearPartNeedsExactlyFiveItems) {
    for (std::size_t count : {0u, 4u, 5u, 6u}) {
        Serializer frame;
        for (std::size_t i = 0; i < count; ++i) {
            frame.push_back(bytes(2, static_cast<unsigned char>(i)));
        }
        Container::Datastore store;
        EXPECT_EQ(store.unpack(count == 0 ? bytes{} : frame.serialize()), count == 5) << count;
        if (count == 5) {
            EXPECT_EQ(store.service.container, bytes(2, 1));
            EXPECT_EQ(store.service.material, bytes(2, 2));
        }
        if (count == 4) {
            Container::Datastore partial;
            partial.deserialize(frame.serialize());
            EXPECT_TRUE(partial.ephemeral.wrapped_key.empty());
        }
    }
}

TEST(Keystore, TrueOnlyWithKeyAndParameter) {
    EXPECT_TRUE(Container::Keystore(bytes{1}, bytes{2}));
    EXPECT_FALSE(Container::Keystore(bytes{1}, bytes{}));
    EXPECT_FALSE(Container::Keystore(bytes{}, bytes{2}));
    Container::Keystore decoded;
    decoded.deserialize(Container::Keystore(bytes{1}, bytes{}).serialize());
    EXPECT_EQ(decoded.key, bytes{1});
    EXPECT_FALSE(decoded);
}

}  // namespace

namespace {

TEST(DiskRecord, SizeItemOfAnyOtherLengthReadsAsZero) {
    const Container::Disk disk("alice", "/srv/alice.img", "ext4", 64u << 20);
    Container::Disk decoded;
    decoded.deserialize(disk.serialize());
    EXPECT_EQ(std::tie(decoded.user_name, decoded.path, decoded.fs, decoded.size),
              std::tie(disk.user_name, disk.path, disk.fs, disk.size));
    Serializer frame;
    for (const char* item : {"alice", "/p", "ext4"}) {
        frame.push_back(bytes(item, item + std::strlen(item)));
    }
    frame.push_back(bytes{1, 2, 3, 4});
    decoded.deserialize(frame.serialize());
    EXPECT_EQ(decoded.size, 0u);
}

}  // namespace
