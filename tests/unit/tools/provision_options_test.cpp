#include "provision_options.h"

#include <gtest/gtest.h>

#include <tuple>

#include "provision.h"

namespace {

using args = std::vector<std::string>;
using named = std::pair<std::string, std::string>;

TEST(ProvisionOptions, FullCommandLine) {
    provision::options options;
    std::string error;
    ASSERT_TRUE(provision::parse(
        {"--service-dir", "/srv/zt", "--admin", "root:/tmp/pw", "--admin", "ops:-", "--iterations",
         "1000", "--allow-low-iterations", "--export-container", "root:/tmp/c", "--export-token",
         "ops:/tmp/t", "--write-config", "--config-path", "/tmp/z.conf", "--force"},
        options, error))
        << error;
    EXPECT_EQ(std::tie(options.service_dir, options.iterations, options.config_path),
              std::tuple("/srv/zt", 1000u, "/tmp/z.conf"));
    EXPECT_EQ(options.admins, (std::vector<named>{{"root", "/tmp/pw"}, {"ops", "-"}}));
    EXPECT_EQ(options.export_containers, (std::vector<named>{{"root", "/tmp/c"}}));
    EXPECT_EQ(options.export_tokens, (std::vector<named>{{"ops", "/tmp/t"}}));
    EXPECT_TRUE(options.write_config && options.force);

    provision::options help;  // --help stops the scan before the bad argument
    EXPECT_TRUE(provision::parse({"--help", "--bogus"}, help, error) && help.help);
}

TEST(ProvisionOptions, RefusedCommandLines) {
    const std::pair<args, std::string> cases[] = {
        {{"--admin", "a:f"}, "--service-dir is required"},
        {{"--service-dir", "d"}, "at least one --admin is required"},
        {{"--service-dir", "d", "--admin", "a:f", "--admin", "a:g"},
         "administrator \"a\" given twice"},
        {{"--service-dir", "d", "--admin", "af"}, "--admin expects NAME:FILE, got \"af\""},
        {{"--service-dir", "d", "--admin", ":f"}, "--admin expects NAME:FILE, got \":f\""},
        {{"--service-dir", "d", "--admin", "a:f", "--iterations", "1000"},
         "fewer than 600000 iterations need --allow-low-iterations"},
        {{"--service-dir", "d", "--admin", "a:f", "--iterations", "10x"},
         "--iterations expects a number, got \"10x\""},
        {{"--service-dir", "d", "--admin", "a:f", "--iterations", "999", "--allow-low-iterations"},
         "iterations must lie between 1000 and 10000000"},
        {{"--service-dir", "d", "--admin", "a:f", "--export-container", "b:x"},
         "cannot export \"b\": not an administrator given"},
        {{"--service-dir", "d", "--admin", "a:f", "--bogus"}, "unknown argument \"--bogus\""},
        {{"--service-dir"}, "--service-dir needs a value"},
    };
    for (const auto& [command, reason] : cases) {
        provision::options options;
        std::string error;
        EXPECT_FALSE(provision::parse(command, options, error)) << reason;
        EXPECT_EQ(error, reason);
    }
}

TEST(ServicePassword, TwoLowerCaseHexDigitsPerByte) {
    EXPECT_EQ(provision::service_password({0x0A, 0xFF, 0x00, 0x7B}), L"0aff007b");
}

}  // namespace
