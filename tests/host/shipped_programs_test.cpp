// Checks of the built Windows programs, read as files on the host: they import
// only system DLLs, and the stub carries one configuration record with every
// marker at its place.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <set>
#include <string>

#include "installer/installer_config.h"
#include "pe_image.h"

namespace {

const std::string kWin32Dir = STUBKIT_WIN32_DIR;
const std::string kStub = kWin32Dir + "/installer/setup-stub.exe";
const std::string kUninstaller = kWin32Dir + "/uninstall/davirado.exe";

std::string Lower(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

class ShippedProgram : public ::testing::TestWithParam<std::string> {};

TEST_P(ShippedProgram, IsAGuiProgramImportingOnlySystemDlls)
{
    // DLLs the system always takes from its own folder: comctl32 is not one of
    // them, so a copy planted beside the program would be loaded instead.
    const std::set<std::string> allowed = {"kernel32.dll", "user32.dll", "gdi32.dll",
                                           "advapi32.dll", "shell32.dll", "ole32.dll",
                                           "msvcrt.dll"};
    petest::Image image = petest::Load(GetParam());
    EXPECT_EQ(image.machine, 0x014c) << "not an i386 image";
    EXPECT_EQ(image.subsystem, 2) << "not a GUI-subsystem program";
    auto dlls = petest::ImportedDlls(image);
    EXPECT_FALSE(dlls.empty());
    for (const std::string& dll : dlls)
        EXPECT_TRUE(allowed.count(Lower(dll))) << GetParam() << " imports " << dll;
}

TEST_P(ShippedProgram, IsNxCompatibleAndRelocatableForAslr)
{
    constexpr std::uint16_t kRelocationsStripped = 0x0001;
    constexpr std::uint16_t kDynamicBase = 0x0040;
    constexpr std::uint16_t kNxCompatible = 0x0100;
    petest::Image image = petest::Load(GetParam());
    EXPECT_TRUE(image.dll_characteristics & kDynamicBase);
    EXPECT_TRUE(image.dll_characteristics & kNxCompatible);
    EXPECT_FALSE(image.characteristics & kRelocationsStripped);
    EXPECT_GT(image.relocations_size, 0u) << "no relocations to move the image with";
}

INSTANTIATE_TEST_SUITE_P(Both, ShippedProgram, ::testing::Values(kStub, kUninstaller));

TEST(ShippedProgramSize, StaysWithinItsBudget)
{
    EXPECT_LE(petest::Load(kUninstaller).bytes.size(), 5632u);
    EXPECT_LE(petest::Load(kStub).bytes.size(), 49664u);
}

std::size_t CountOccurrences(const std::vector<std::uint8_t>& bytes, const std::string& text)
{
    std::size_t count = 0;
    auto it = bytes.begin();
    while ((it = std::search(it, bytes.end(), text.begin(), text.end())) != bytes.end()) {
        ++count;
        ++it;
    }
    return count;
}

// Expects the slot to hold `marker` and its NUL, then only zero bytes.
void ExpectSlot(const std::uint8_t* slot, std::size_t size, const std::string& marker,
                const std::string& where)
{
    ASSERT_LT(marker.size(), size);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(slot), marker.size()), marker) << where;
    for (std::size_t i = marker.size(); i < size; ++i)
        if (slot[i] != 0) {
            ADD_FAILURE() << where << ": byte " << i << " of the slot is not zero";
            return;
        }
}

std::string RowMarker(const char* prefix, int row)
{
    char number[3];
    std::snprintf(number, sizeof number, "%02d", row);
    return std::string(prefix) + number;
}

TEST(StubConfigurationRecord, HoldsEveryMarkerAtItsOffsetExactlyOnce)
{
    petest::Image image = petest::Load(kStub);
    auto section = petest::FindSection(image, ".stubcfg");
    ASSERT_TRUE(section.has_value());
    ASSERT_GE(section->file_size, sizeof(InstallerConfig));
    // The marker text with its NUL occurs once in the file: at the record.
    const std::string stubSizeMarker = std::string(CONFIG_MARKER_STUB_SIZE) + '\0';
    EXPECT_EQ(CountOccurrences(image.bytes, stubSizeMarker), 1u);

    const std::uint8_t* record = &image.bytes[section->file_offset];
    InstallerConfig config;
    std::memcpy(&config, record, sizeof config);
    auto slot = [&](const char* field) { return reinterpret_cast<const std::uint8_t*>(field); };
    ExpectSlot(slot(config.StubSize), sizeof config.StubSize, CONFIG_MARKER_STUB_SIZE, "StubSize");
    ExpectSlot(slot(config.Title), sizeof config.Title, CONFIG_MARKER_TITLE, "Title");
    ExpectSlot(slot(config.DefaultFolder), sizeof config.DefaultFolder,
               CONFIG_MARKER_DEFAULT_FOLDER, "DefaultFolder");
    ExpectSlot(slot(config.ProgramGroup), sizeof config.ProgramGroup,
               CONFIG_MARKER_PROGRAM_GROUP, "ProgramGroup");
    ExpectSlot(slot(config.RunAfterInstall), sizeof config.RunAfterInstall,
               CONFIG_MARKER_RUN_AFTER_INSTALL, "RunAfterInstall");

    struct Table {
        const ShortcutEntry* rows;
        int marked;
        const char* link;
        const char* file;
    } tables[] = {
        {config.StartMenuShortcuts, StartMenuMarkedRows, CONFIG_MARKER_START_MENU_LINK,
         CONFIG_MARKER_START_MENU_FILE},
        {config.DesktopShortcuts, DesktopMarkedRows, CONFIG_MARKER_DESKTOP_LINK,
         CONFIG_MARKER_DESKTOP_FILE},
    };
    for (const Table& table : tables)
        for (int row = 0; row < ShortcutRows; ++row) {
            const bool marked = row < table.marked;
            ExpectSlot(slot(table.rows[row].LinkName), ShortcutTextSize,
                       marked ? RowMarker(table.link, row) : "", RowMarker(table.link, row));
            ExpectSlot(slot(table.rows[row].TargetFile), ShortcutTextSize,
                       marked ? RowMarker(table.file, row) : "", RowMarker(table.file, row));
        }
    // The quoted example marker is where the layout says.
    EXPECT_STREQ(config.DesktopShortcuts[7].LinkName, "$$DesktopShortcutLink-07");
}

}  // namespace
