// Checks of the built Windows programs, read as files on the host: they import
// only system DLLs, carry the application manifest, and the stub carries one
// configuration record with every marker at its place.
#include <expat.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <set>
#include <string>

#include "common/installer_config.h"
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

// The manifest's XML, one line per element: indentation by depth, namespace and
// name, attributes in document order, text. No lines when the XML is not
// well-formed; `error` then says why.
struct ManifestOutline {
    std::vector<std::string> lines;
    std::string error;
};

ManifestOutline OutlineXml(const std::vector<std::uint8_t>& xml)
{
    struct State {
        ManifestOutline outline;
        int depth = 0;
    } state;
    XML_Parser parser = XML_ParserCreateNS(nullptr, ' ');
    XML_SetUserData(parser, &state);
    XML_SetElementHandler(
        parser,
        [](void* data, const XML_Char* name, const XML_Char** attributes) {
            auto* state = static_cast<State*>(data);
            std::string line = std::string(2 * state->depth++, ' ') + name;
            for (; *attributes; attributes += 2)
                line += std::string(" ") + attributes[0] + "=" + attributes[1];
            state->outline.lines.push_back(line);
        },
        [](void* data, const XML_Char*) { --static_cast<State*>(data)->depth; });
    // Text goes to the line of the element last opened; layout whitespace is no setting.
    XML_SetCharacterDataHandler(parser, [](void* data, const XML_Char* text, int length) {
        const std::string piece(text, length);
        auto& lines = static_cast<State*>(data)->outline.lines;
        if (lines.empty() || piece.find_first_not_of(" \t\r\n") == std::string::npos)
            return;
        std::string& line = lines.back();
        line += (line.find(" text=") == std::string::npos ? " text=" : "") + piece;
    });
    if (XML_Parse(parser, reinterpret_cast<const char*>(xml.data()), static_cast<int>(xml.size()),
                  XML_TRUE) == XML_STATUS_ERROR) {
        state.outline.lines.clear();
        state.outline.error = XML_ErrorString(XML_GetErrorCode(parser));
    }
    XML_ParserFree(parser);
    return state.outline;
}

// Highest available rights without virtualization, every system from 7 on
// declared supported (Vista reads no such list, and a later system picks the
// newest one it knows), system DPI awareness, and no dependency on version 6 of
// the common controls.
const std::vector<std::string> kManifestOutline = {
    "urn:schemas-microsoft-com:asm.v1 assembly manifestVersion=1.0",
    "  urn:schemas-microsoft-com:asm.v3 trustInfo",
    "    urn:schemas-microsoft-com:asm.v3 security",
    "      urn:schemas-microsoft-com:asm.v3 requestedPrivileges",
    "        urn:schemas-microsoft-com:asm.v3 requestedExecutionLevel level=highestAvailable",
    "  urn:schemas-microsoft-com:compatibility.v1 compatibility",
    "    urn:schemas-microsoft-com:compatibility.v1 application",
    "      urn:schemas-microsoft-com:compatibility.v1 supportedOS "
    "Id={35138b9a-5d96-4fbd-8e2d-a2440225f93a}",  // 7
    "      urn:schemas-microsoft-com:compatibility.v1 supportedOS "
    "Id={4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}",  // 8
    "      urn:schemas-microsoft-com:compatibility.v1 supportedOS "
    "Id={1f676c76-80e1-4239-95bb-83d0f6d0da78}",  // 8.1
    "      urn:schemas-microsoft-com:compatibility.v1 supportedOS "
    "Id={8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}",  // 10 and 11
    "  urn:schemas-microsoft-com:asm.v3 application",
    "    urn:schemas-microsoft-com:asm.v3 windowsSettings",
    "      http://schemas.microsoft.com/SMI/2005/WindowsSettings dpiAware text=true",
};

TEST_P(ShippedProgram, CarriesTheApplicationManifestWithExactlyItsSettings)
{
    constexpr std::uint16_t kManifestType = 24, kProgramManifestId = 1;
    auto manifest = petest::FindResource(petest::Load(GetParam()), kManifestType, kProgramManifestId);
    ASSERT_TRUE(manifest.has_value()) << GetParam() << " has no manifest resource";
    ManifestOutline outline = OutlineXml(*manifest);
    EXPECT_EQ(outline.error, "");
    EXPECT_EQ(outline.lines, kManifestOutline);
}

INSTANTIATE_TEST_SUITE_P(Both, ShippedProgram, ::testing::Values(kStub, kUninstaller));

TEST(ShippedProgramSize, StaysWithinItsBudget)
{
    EXPECT_LE(petest::Load(kUninstaller).bytes.size(), 6144u);
    EXPECT_LE(petest::Load(kStub).bytes.size(), 49664u);
}

std::size_t CountOccurrences(const std::vector<std::uint8_t>& bytes, const std::string& text)
{
    std::size_t count = 0;
    for (auto it = bytes.begin(); (it = std::search(it, bytes.end(), text.begin(), text.end())) != bytes.end(); ++it)
        ++count;
    return count;
}

// Expects the slot to hold `marker` and its NUL, then only zero bytes.
void ExpectSlot(const char* slot, std::size_t size, const std::string& marker, const std::string& where)
{
    ASSERT_LT(marker.size(), size);
    EXPECT_EQ(std::string(slot, marker.size()), marker) << where;
    for (std::size_t i = marker.size(); i < size; ++i)
        if (slot[i] != 0) {
            ADD_FAILURE() << where << ": byte " << i << " of the slot is not zero";
            return;
        }
}

std::string RowMarker(const char* prefix, int row) { return prefix + std::string(row < 10 ? "0" : "") + std::to_string(row); }

TEST(StubConfigurationRecord, HoldsEveryMarkerAtItsOffsetExactlyOnce)
{
    petest::Image image = petest::Load(kStub);
    auto section = petest::FindSection(image, ".stubcfg");
    ASSERT_TRUE(section.has_value());
    ASSERT_GE(section->file_size, sizeof(InstallerConfig));
    // The marker text with its NUL occurs once in the file: at the record.
    const std::string stubSizeMarker = std::string(CONFIG_MARKER_STUB_SIZE) + '\0';
    EXPECT_EQ(CountOccurrences(image.bytes, stubSizeMarker), 1u);

    InstallerConfig config;
    std::memcpy(&config, &image.bytes[section->file_offset], sizeof config);
    const struct { const char* field; std::size_t size; const char* marker; } slots[] = {
        {config.StubSize, sizeof config.StubSize, CONFIG_MARKER_STUB_SIZE},
        {config.Title, sizeof config.Title, CONFIG_MARKER_TITLE},
        {config.DefaultFolder, sizeof config.DefaultFolder, CONFIG_MARKER_DEFAULT_FOLDER},
        {config.ProgramGroup, sizeof config.ProgramGroup, CONFIG_MARKER_PROGRAM_GROUP},
        {config.RunAfterInstall, sizeof config.RunAfterInstall, CONFIG_MARKER_RUN_AFTER_INSTALL}};
    for (const auto& s : slots)
        ExpectSlot(s.field, s.size, s.marker, s.marker);

    const struct { const ShortcutEntry* rows; int marked; const char *link, *file; } tables[] = {
        {config.StartMenuShortcuts, StartMenuMarkedRows, CONFIG_MARKER_START_MENU_LINK, CONFIG_MARKER_START_MENU_FILE},
        {config.DesktopShortcuts, DesktopMarkedRows, CONFIG_MARKER_DESKTOP_LINK, CONFIG_MARKER_DESKTOP_FILE}};
    for (const auto& table : tables)
        for (int row = 0; row < ShortcutRows; ++row) {
            const bool marked = row < table.marked;
            ExpectSlot(table.rows[row].LinkName, ShortcutTextSize, marked ? RowMarker(table.link, row) : "",
                       RowMarker(table.link, row));
            ExpectSlot(table.rows[row].TargetFile, ShortcutTextSize, marked ? RowMarker(table.file, row) : "",
                       RowMarker(table.file, row));
        }
    // The quoted example marker is where the layout says.
    EXPECT_STREQ(config.DesktopShortcuts[7].LinkName, "$$DesktopShortcutLink-07");
}

}  // namespace
