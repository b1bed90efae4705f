// Reading the configuration record as the stub does, with the system runtime's
// atoi (these tests run under Wine against msvcrt).
#include <gtest/gtest.h>

#include <cstring>

#include "installer/installer_config.h"

namespace {

struct StubSizeCase {
    const char* slot;
    int expected;
};

class StubSizeText : public ::testing::TestWithParam<StubSizeCase> {};

TEST_P(StubSizeText, ReadsAsAtoiReadsIt)
{
    InstallerConfig config;
    std::memset(&config, 0, sizeof config);
    std::strcpy(config.StubSize, GetParam().slot);
    EXPECT_EQ(ConfiguredStubSize(&config), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, StubSizeText,
    ::testing::Values(StubSizeCase{"49664", 49664}, StubSizeCase{"   49664", 49664},
                      StubSizeCase{"\t 12", 12}, StubSizeCase{"+512", 512},
                      StubSizeCase{"-512", -512}, StubSizeCase{"49664abc", 49664},
                      StubSizeCase{"4 9", 4}, StubSizeCase{"$$StubSize", 0},
                      StubSizeCase{"", 0}, StubSizeCase{"abc49664", 0}));

TEST(StubSizeText, AFullSlotWithoutTerminatorIsReadOnlyWithinTheSlot)
{
    InstallerConfig config;
    std::memset(&config, 0, sizeof config);
    std::memset(config.StubSize, ' ', sizeof config.StubSize);
    config.StubSize[sizeof config.StubSize - 2] = '5';
    config.StubSize[sizeof config.StubSize - 1] = '6';  // no NUL inside the slot
    std::strcpy(config.Title, "77");                    // digits right behind it
    EXPECT_EQ(ConfiguredStubSize(&config), 5);
}

struct TableCase {
    const char* name;
    std::vector<int> filledRows;   // rows whose LinkName is set
    std::vector<int> markedRows;   // rows still holding their marker text
    int expectedRows;
};

class ShortcutTableWalk : public ::testing::TestWithParam<TableCase> {};

TEST_P(ShortcutTableWalk, StopsAtTheFirstEmptyLinkName)
{
    ShortcutEntry table[ShortcutRows];
    std::memset(table, 0, sizeof table);
    for (int row : GetParam().filledRows)
        std::strcpy(table[row].LinkName, "App.lnk");
    for (int row : GetParam().markedRows)
        std::strcpy(table[row].LinkName, "$$DesktopShortcutLink-07");
    EXPECT_EQ(CountShortcutRows(table), GetParam().expectedRows) << GetParam().name;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ShortcutTableWalk,
    ::testing::Values(
        TableCase{"empty", {}, {}, 0},
        TableCase{"row 0 empty, later rows set", {1, 2, 3}, {}, 0},
        TableCase{"gap in the middle", {0, 1, 2, 4, 5}, {}, 3},
        TableCase{"all sixteen rows", {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15}, {}, 16},
        TableCase{"a row still holding its marker is used", {0, 1}, {2}, 3}));

TEST(ShortcutTableWalk, NeverReadsPastRowFifteen)
{
    // A record followed by more non-empty bytes: the walk must stop at 16 rows.
    struct {
        ShortcutEntry table[ShortcutRows];
        ShortcutEntry beyond[2];
    } memory;
    std::memset(&memory, 'A', sizeof memory);
    EXPECT_EQ(CountShortcutRows(memory.table), 16);
}

}  // namespace
