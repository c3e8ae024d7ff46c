#include "dbus/conf_generator.h"

#include <gtest/gtest.h>

#include <string>
#include <system_error>

#include "dbus/bus_name.h"

namespace {

TEST(ConfGenerator, UserPolicyAllowsOwningTheUserNameAndCallingTheService) {
    std::error_code ec;
    const auto [text, file] = conf_generator::generate(misc::get_server_bus_name("user1"), ec);
    ASSERT_FALSE(ec);
    EXPECT_EQ(file, "ru.quorvex.user1.conf");
    EXPECT_EQ(text,
              "<!DOCTYPE busconfig PUBLIC\n"
              " \"-//freedesktop//DTD D-BUS Bus Configuration 1.0//EN\"\n"
              " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
              "<busconfig>\n"
              "  <policy context=\"default\">\n"
              "    <allow own=\"ru.quorvex.user1\"/>\n"
              "    <allow send_interface=\"ru.quorvex.system\"/>\n"
              "    <allow send_destination=\"ru.quorvex.server\"/>\n"
              "  </policy>\n"
              "</busconfig>");
}

// A name lands in an XML attribute of a file the system bus trusts, and in a file name in
// the bus's configuration directory: anything that could escape either is refused whole.
TEST(ConfGenerator, RefusesNamesThatWouldNotFitOrEscapeTheFile) {
    const std::string prefix = "ru.quorvex.";
    struct row {
        std::string name;
        std::errc error;
    };
    const row rows[] = {
        {std::string(conf_generator::max_name_length + 1, 'a'), std::errc::filename_too_long},
        {"", std::errc::invalid_argument},
        {prefix + "a/../../x", std::errc::invalid_argument},
        {prefix + std::string("a\0b", 3), std::errc::invalid_argument},
        {prefix + "a\nb", std::errc::invalid_argument},
        {prefix + "a\x7f", std::errc::invalid_argument},
        {prefix + "a\"/><allow own=\"*", std::errc::invalid_argument},
        {prefix + "a'", std::errc::invalid_argument},
        {prefix + "a<b", std::errc::invalid_argument},
        {prefix + "a>b", std::errc::invalid_argument},
        {prefix + "a&amp;", std::errc::invalid_argument},
        {".hidden", std::errc::invalid_argument},
        // The service's own name: its policy file would let anyone own the service.
        {"ru.quorvex.server", std::errc::invalid_argument},
    };
    for (const auto& r : rows) {
        std::error_code ec;
        EXPECT_EQ(conf_generator::generate(r.name, ec), (std::pair<std::string, std::string>{}))
            << r.name;
        EXPECT_EQ(ec, std::make_error_code(r.error)) << r.name;
    }
    const std::string longest(conf_generator::max_name_length, 'a');
    EXPECT_EQ(conf_generator::generate(longest).first.size(), 329 + longest.size());
}

}  // namespace
