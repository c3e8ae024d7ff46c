#include "daemon/hardened_mode.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>

#include "config/config_manager.h"

namespace {

TEST(HardenedRelease, OnlyALastPieceOfExactlyHardenedCounts) {
    const std::pair<const char*, bool> rows[] = {
        {"6.1.0-13-hardened", true}, {"5.15.2-hardened", true}, {"hardened", true},
        {"6.1.0-hardened-1", false}, {"6.1.0-13-amd64", false}, {"6.1.0-Hardened", false},
        {"6.1.0-hardened2", false},  {"6.1.0hardened", false},  {"", false},
    };
    for (const auto& [release, hardened] : rows) {
        EXPECT_EQ(is_hardened_release(release), hardened) << release;
    }
}

class HardenedMode : public ::testing::Test {
  protected:
    void SetUp() override {
        char pattern[] = "/tmp/zt-hardened-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        m_dir = pattern;
    }
    void TearDown() override { std::filesystem::remove_all(m_dir); }

    // A configuration with the given "launch_in_hardened" line (none for nullopt).
    config_manager config(const std::optional<std::string>& line) {
        const std::string path = m_dir + "/ztctl.conf";
        std::ofstream out(path, std::ios::trunc);
        out << "service_path = /var/lib/ztctl\n";
        if (line) {
            out << *line << "\n";
        }
        return config_manager(path);
    }

    std::string m_dir;
};

TEST_F(HardenedMode, HardenedKernelRunsOnlyWithYesInAnyCase) {
    const std::pair<std::optional<std::string>, bool> rows[] = {
        {"launch_in_hardened = yes", false},
        {"launch_in_hardened = YES", false},
        {"launch_in_hardened = Yes", false},
        {"launch_in_hardened=yEs", false},
        {"launch_in_hardened = no", true},
        {"launch_in_hardened = y", true},
        {"launch_in_hardened = yes please", true},
        {"launch_in_hardened = true", true},
        {"# launch_in_hardened = yes", true},
        {"launch_in_hardened =", true},
        {std::nullopt, true},
    };
    for (const auto& [line, refuse] : rows) {
        auto cfg = config(line);
        std::error_code ec;
        EXPECT_EQ(check_mode(cfg, "6.1.0-13-hardened", ec), refuse) << line.value_or("(none)");
    }
}

TEST_F(HardenedMode, OrdinaryKernelIgnoresTheSetting) {
    for (const char* line : {"launch_in_hardened = no", "launch_in_hardened = yes"}) {
        auto cfg = config(std::string(line));
        std::error_code ec;
        EXPECT_FALSE(check_mode(cfg, "6.1.0-13-amd64", ec)) << line;
        EXPECT_FALSE(check_mode(cfg, "", ec)) << line;
    }
}

TEST_F(HardenedMode, UnreadableConfigurationRefusesOnHardenedKernel) {
    config_manager missing(m_dir + "/absent.conf");
    std::error_code ec;
    EXPECT_TRUE(check_mode(missing, "6.1.0-hardened", ec));
}

}  // namespace
