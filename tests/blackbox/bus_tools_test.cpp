// The daemon as busctl, gdbus and openssl see it: the words of "Open" and the service key
// of "GetPublicKey", read from bytes that only the daemon produced.

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "integration/service_client.h"

namespace service_test {
namespace {

using BusTools = ServiceTest;

const std::vector<std::string> kClean = zt_testing::environment_with(
    {"DBUS_SYSTEM_BUS_ADDRESS", "DBUS_SESSION_BUS_ADDRESS", "DBUS_STARTER_ADDRESS"}, {"LC_ALL=C"});

// Runs a tool inside the sandbox; its standard output, with its exit status checked.
std::string run(zt_testing::sandbox& box, const std::vector<std::string>& argv) {
    const auto result =
        zt_testing::run_captured(argv, 60s, {.ns_fd = box.namespace_fd(), .env = kClean});
    EXPECT_EQ(result.status, 0) << argv[0] << ": " << result.err;
    return result.out;
}

TEST_F(BusTools, OpenAnswersItsAcceptanceToBusctlAndGdbus) {
    const std::string busctl = run(*m_box, {"/usr/bin/busctl", "--system", "call",
                                            "ru.quorvex.server", "/ru/quorvex/system/session",
                                            "ru.quorvex.system.session", "Open", "uu", "4", "4"});
    EXPECT_EQ(busctl, "uuu 4 64 1\n");
    const std::string gdbus =
        run(*m_box, {"/usr/bin/gdbus", "call", "--system", "--dest", "ru.quorvex.server",
                     "--object-path", "/ru/quorvex/system/session", "--method",
                     "ru.quorvex.system.session.Open", "uint32 4", "uint32 4"});
    EXPECT_EQ(gdbus, "(uint32 4, uint32 64, uint32 1)\n");
}

TEST_F(BusTools, PublicKeyReplyCarriesAKeyThatOpensslReads) {
    // busctl prints "uuay 2 128 N b1 ... bN" for the clear reply (2, 128, full reply).
    std::istringstream out(
        run(*m_box, {"/usr/bin/busctl", "--system", "call", "ru.quorvex.server",
                     "/ru/quorvex/system/service", "ru.quorvex.system.service", "GetPublicKey"}));
    std::string signature;
    unsigned header = 0, metadata = 0, count = 0;
    out >> signature >> header >> metadata >> count;
    ASSERT_EQ(std::tuple(signature, header, metadata), std::tuple(std::string("uuay"), 2u, 128u));
    bytes frame;
    for (unsigned value = 0; frame.size() < count && out >> value;) {
        frame.push_back(static_cast<unsigned char>(value));
    }
    const reply_builder reply(frame);
    ASSERT_EQ(reply.status().value(), 0u);
    ASSERT_FALSE(reply.buffer().empty());

    const std::string file = "/run/zt-sandbox/service-key.der";
    m_box->write_file(file, std::string(reply.buffer().begin(), reply.buffer().end()));
    run(*m_box, {"/usr/bin/openssl", "pkey", "-pubin", "-inform", "DER", "-in", file, "-noout"});
}

}  // namespace
}  // namespace service_test
