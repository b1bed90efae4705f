// Reading the configuration record as the stub does, with the system runtime's
// atoi (these tests run under Wine against msvcrt).
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "common/installer_config.h"

namespace {

struct StubSizeCase {
    std::string slot;   // copied without its NUL; a full slot has none
    int expected;
};

class StubSizeText : public ::testing::TestWithParam<StubSizeCase> {};

// Digits right behind the slot must never be read into the size.
TEST_P(StubSizeText, ReadsAsAtoiReadsItWithinTheSlot)
{
    InstallerConfig config;
    std::memset(&config, 0, sizeof config);
    std::memcpy(config.StubSize, GetParam().slot.data(), GetParam().slot.size());
    std::strcpy(config.Title, "77");
    EXPECT_EQ(ConfiguredStubSize(&config), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, StubSizeText,
    ::testing::Values(StubSizeCase{"49664", 49664}, StubSizeCase{"   49664", 49664},
                      StubSizeCase{"\t 12", 12}, StubSizeCase{"+512", 512},
                      StubSizeCase{"-512", -512}, StubSizeCase{"49664abc", 49664},
                      StubSizeCase{"4 9", 4}, StubSizeCase{"$$StubSize", 0},
                      StubSizeCase{"", 0}, StubSizeCase{"abc49664", 0},
                      StubSizeCase{std::string(StubSizeSlotSize - 2, ' ') + "56", 5}));

struct TableCase {
    const char* name;
    std::vector<int> filledRows;   // rows whose LinkName is set
    std::vector<int> markedRows;   // rows still holding their marker text
    int expectedRows;
};

class ShortcutTableWalk : public ::testing::TestWithParam<TableCase> {};

// The record is followed by more non-empty bytes: the walk must stop at 16 rows.
TEST_P(ShortcutTableWalk, StopsAtTheFirstEmptyLinkNameAndNeverPastRowFifteen)
{
    struct {
        ShortcutEntry table[ShortcutRows];
        ShortcutEntry beyond[2];
    } memory;
    std::memset(&memory, 0, sizeof memory);
    std::memset(&memory.beyond, 'A', sizeof memory.beyond);
    for (int row : GetParam().filledRows)
        std::strcpy(memory.table[row].LinkName, "App.lnk");
    for (int row : GetParam().markedRows)
        std::strcpy(memory.table[row].LinkName, "$$DesktopShortcutLink-07");
    EXPECT_EQ(CountShortcutRows(memory.table), GetParam().expectedRows) << GetParam().name;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ShortcutTableWalk,
    ::testing::Values(
        TableCase{"empty", {}, {}, 0},
        TableCase{"row 0 empty, later rows set", {1, 2, 3}, {}, 0},
        TableCase{"gap in the middle", {0, 1, 2, 4, 5}, {}, 3},
        TableCase{"all sixteen rows", {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15}, {}, 16},
        TableCase{"a row still holding its marker is used", {0, 1}, {2}, 3}));

}  // namespace
