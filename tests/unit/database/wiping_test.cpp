// The owners of key material in the database area wipe it before its memory goes back.
// Observed through the freed-memory probe: every block freed while it watches is searched
// for the secret before it goes.
#include <sys/random.h>

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "database/admin_entry.h"
#include "database/serializer.h"
#include "database/user_entry.h"
#include "freed_memory.h"

namespace {

using bytes = std::vector<unsigned char>;

bytes random_bytes(std::size_t size) {
    bytes out(size);
    EXPECT_EQ(::getrandom(out.data(), out.size(), 0), static_cast<ssize_t>(out.size()));
    return out;
}

// Blocks freed by act that still held secret.
std::size_t leaks(const bytes& secret, const std::function<void()>& act) {
    // The pattern list is built before the watch starts: its own temporaries do not count.
    std::vector<bytes> watched = {secret};
    testing_memory::freed_memory_probe probe(std::move(watched));
    act();
    probe.stop();
    return probe.hits();
}

db::UserEntry entry_with(const bytes& secret) {
    db::UserEntry entry;
    entry.set_name("alice");
    entry.set_parameter(secret);
    entry.set_symmetric_material(secret);
    entry.set_container(secret, nullptr, 1);
    return entry;
}

// Each case sets its owner up (outside the watch: copies made on the way are freed
// unwiped on purpose and do not count) and returns what the watched step leaked.
struct wiping_case {
    const char* name;
    std::function<std::size_t(const bytes& secret)> run;
};

TEST(Wiping, OwnersOfKeyMaterialWipeItBeforeItIsFreed) {
    const bytes secret = random_bytes(48);
    const bytes other = random_bytes(4096);  // larger than the secret: forces new blocks
    const std::vector<wiping_case> cases = {
        {"serializer destroyed",
         [&](const bytes& s) {
             auto frame = std::make_unique<Serializer>();
             frame->push_back(s);
             frame->push_back(s);
             return leaks(s, [&] { frame.reset(); });
         }},
        {"serializer cleared",
         [&](const bytes& s) {
             Serializer frame;
             frame.push_back(s);
             return leaks(s, [&] { frame.clear(); });
         }},
        {"serializer assigned to",
         [&](const bytes& s) {
             Serializer frame;
             frame.push_back(s);
             Serializer replacement;
             replacement.push_back(other);
             const Serializer copy = replacement;
             return leaks(s, [&] {
                 frame = copy;
                 frame = std::move(replacement);
             });
         }},
        {"serializer decoding another frame",
         [&](const bytes& s) {
             Serializer frame;
             frame.push_back(s);
             Serializer next;
             next.push_back(other);
             const bytes encoded = next.serialize();
             return leaks(s, [&] { frame.deserialize(encoded); });
         }},
        {"user record destroyed",
         [&](const bytes& s) {
             auto entry = std::make_unique<db::UserEntry>(entry_with(s));
             return leaks(s, [&] { entry.reset(); });
         }},
        {"administrator record destroyed",
         [&](const bytes& s) {
             auto entry = std::make_unique<db::AdminEntry>();
             entry->set_parameter(s);
             entry->set_symmetric_material(s);
             return leaks(s, [&] { entry.reset(); });
         }},
        {"user record fields set anew",
         [&](const bytes& s) {
             db::UserEntry entry = entry_with(s);
             bytes a = other;
             bytes b = other;
             bytes c = other;
             return leaks(s, [&] {
                 entry.set_parameter(std::move(a));
                 entry.set_symmetric_material(std::move(b));
                 entry.set_container(std::move(c), nullptr, 2);
             });
         }},
        {"user record decoding another frame",
         [&](const bytes& s) {
             db::UserEntry entry = entry_with(s);
             const bytes encoded = entry_with(other).serialize();
             return leaks(s, [&] { entry.deserialize(encoded); });
         }},
        {"user record assigned to",
         [&](const bytes& s) {
             db::UserEntry entry = entry_with(s);
             db::UserEntry moved = entry_with(s);
             const db::UserEntry replacement = entry_with(other);
             db::UserEntry spare = entry_with(other);
             return leaks(s, [&] {
                 entry = replacement;
                 moved = std::move(spare);
             });
         }},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.run(secret), 0u) << c.name;
    }
}

// The probe itself sees a secret freed without a wipe: the cases above can fail.
TEST(Wiping, ProbeCatchesAnUnwipedBlock) {
    const bytes secret = random_bytes(48);
    auto plain = std::make_unique<bytes>(secret);
    EXPECT_GE(leaks(secret, [&] { plain.reset(); }), 1u);
}

}  // namespace
