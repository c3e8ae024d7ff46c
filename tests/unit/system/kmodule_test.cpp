#include "system/kmodule.h"

#include <gtest/gtest.h>

namespace {

using State = KernelModule::ModuleState;

constexpr const char* kTable =
    "cryxhelper 8192 0 - Live 0xffffffffc0100000\n"
    "loop 40960 3 - Live 0xffffffffc0200000\n"
    "cryx 16384 2 loop,xts Live 0xffffffffc0a00000 (OE)\n"
    "fresh 4096 0 - Loading 0x0000000000000000\n"
    "going 4096 0 [permanent] Unloading 0xffffffffc0300000\n";

TEST(KernelModule, StateAndFieldsOfTheMatchingLine) {
    const struct {
        const char* name;
        State state;
    } rows[] = {
        {"cryx", State::live},   {"loop", State::live},     {"fresh", State::loading},
        {"going", State::other}, {"cry", State::not_found}, {"absent", State::not_found},
    };
    for (const auto& row : rows) {
        KernelModule module(row.name);
        EXPECT_EQ(module.parse_table(kTable).get_state(), row.state) << row.name;
        EXPECT_EQ(module.loaded(), row.state == State::live) << row.name;
    }
    // The fields of the matching line.
    KernelModule module("cryx");
    module.parse_table(kTable);
    EXPECT_EQ(module.get_size(), 16384u);
    EXPECT_EQ(module.get_references(), 2u);
    EXPECT_EQ(module.get_dependencies(), "loop,xts");
    EXPECT_EQ(module.get_offset(), 0xffffffffc0a00000u);
    EXPECT_EQ(module.get_taint(), "(OE)");

    // The first matching line counts; a later look-up in another table starts afresh.
    module.parse_table("cryx 1 0 - Loading 0x10\ncryx 2 0 - Live 0x20\n");
    EXPECT_EQ(module.get_state(), State::loading);
    EXPECT_EQ(module.get_offset(), 0x10u);
    EXPECT_EQ(module.get_taint(), "");
    EXPECT_EQ(module.parse_table("").get_state(), State::not_found);
    EXPECT_EQ(module.get_size(), 0u);
}

}  // namespace
