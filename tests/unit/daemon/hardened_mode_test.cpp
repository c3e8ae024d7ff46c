#include "daemon/hardened_mode.h"

#include <gtest/gtest.h>
#include <unistd.h>

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

// A hardened kernel runs only with "yes" in any case; an ordinary one ignores the setting.
// An unreadable configuration refuses on a hardened kernel too.
TEST(HardenedMode, RefusesOnAHardenedKernelUnlessTheSettingIsYes) {
    const char* hardened = "6.1.0-13-hardened";
    const char* ordinary = "6.1.0-13-amd64";
    const char* no_file = "(no file)";
    const std::string k = "launch_in_hardened";
    const struct {
        std::optional<std::string> line;  // nothing: no such line
        const char* release;
        bool refuse;
    } rows[] = {
        {k + " = yes", hardened, false}, {k + " = YES", hardened, false},
        {k + "=yEs", hardened, false},   {k + " = no", hardened, true},
        {k + " = y", hardened, true},    {k + " = yes please", hardened, true},
        {k + " = true", hardened, true}, {"# launch_in_hardened = yes", hardened, true},
        {k + " =", hardened, true},      {std::nullopt, hardened, true},
        {no_file, hardened, true},       {k + " = no", ordinary, false},
        {k + " = yes", ordinary, false}, {k + " = no", "", false},
    };
    const std::string path = ::testing::TempDir() + "zt-hardened-" + std::to_string(getpid());
    for (const auto& r : rows) {
        std::filesystem::remove(path);
        if (r.line != no_file) {
            std::ofstream(path) << "service_path = /var/lib/ztctl\n" << r.line.value_or("") << "\n";
        }
        config_manager cfg(path);
        std::error_code ec;
        EXPECT_EQ(check_mode(cfg, r.release, ec), r.refuse)
            << r.line.value_or("(none)") << " on " << r.release;
    }
    std::filesystem::remove(path);
}

}  // namespace
