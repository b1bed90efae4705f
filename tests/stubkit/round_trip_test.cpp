// Build, list, test and extract together: what comes out equals what went
// in, times included; the same input gives the same bytes; the shortcut
// tables end where the installer will look for their end.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>

#include <cstring>

#include "installer/installer_config.h"
#include "payload/crc32.h"
#include "stubkit/file_times.h"
#include "stubkit/operations.h"
#include "stubkit/pack_plan.h"
#include "test_support.h"

namespace stubkit {
namespace {
namespace fs = std::filesystem;

using testing::ConfigText;
using testing::NoiseBytes;
using testing::ReadFile;
using testing::RealStubPath;
using testing::RunTool;
using testing::ScratchFolder;
using testing::WriteFile;

struct ProductFile {
    std::string name;   // relative, '/' separated, UTF-8
    std::vector<std::uint8_t> contents;
    std::int64_t write_seconds;
    std::int64_t access_seconds;
};

std::vector<std::uint8_t> TextBytes(std::size_t lines)
{
    std::string text;
    for (std::size_t i = 0; i < lines; ++i)
        text += "line " + std::to_string(i * 7919 % 1000) + " of the product's manual\n";
    return std::vector<std::uint8_t>(text.begin(), text.end());
}

// Folders with blanks, empty files (one would sort last), a name outside
// ASCII, compressible and incompressible data. Listed in table order: empty
// files first, each group sorted by the bytes of the names.
std::vector<ProductFile> SampleProduct()
{
    return {
        {"Program Files Like/empty.dat", {}, 1400000000, 1400000002},
        {"zz last empty", {}, 1200000000, 1200000004},
        {"Program Files Like/bin/app.exe", NoiseBytes(70000, 7), 1500000000, 1500000001},
        {"docs/Manual \xC3\xA9" "dition/chapter 1.txt", TextBytes(30000), 1300000000, 1300000003},
        {"readme.txt", TextBytes(20), 1600000000, 1700000000},
    };
}

// Odd nanoseconds check that times keep their 100 ns ticks.
constexpr long kNanoseconds = 123456789;

void WriteProduct(const fs::path& folder, const std::vector<ProductFile>& files)
{
    for (const ProductFile& file : files) {
        const fs::path path = folder / fs::u8path(file.name);
        WriteFile(path, file.contents);
        const timespec times[2] = {{file.access_seconds, kNanoseconds}, {file.write_seconds, kNanoseconds}};
        ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
    }
}

std::string WindowsName(std::string name)
{
    std::replace(name.begin(), name.end(), '/', '\\');
    return name;
}

class RoundTrip : public ::testing::Test {
protected:
    void SetUp() override
    {
        WriteProduct(scratch_ / "product", SampleProduct());
        WriteFile(scratch_ / "product.toml",
                  ConfigText("product", "run_after_install = \"Program Files Like\\\\bin\\\\app.exe\"\n"
                                        "[[start_menu]]\nlink = \"App.lnk\"\ntarget = \"Program Files Like/bin/app.exe\"\n"));
    }

    fs::path Build(const std::string& output, int level)
    {
        BuildOptions options;
        options.config = scratch_ / "product.toml";
        options.output = scratch_ / output;
        options.level = level;
        BuildInstaller(options, [](const std::string& warning) { ADD_FAILURE() << warning; });
        return options.output;
    }

    ScratchFolder scratch_;
};

TEST_F(RoundTrip, TableHoldsNamesSizesCrcsAndTimesOfTheSource)
{
    const InstallerImage image = ReadInstallerImage(Build("setup.exe", 1));
    std::vector<ProductFile> files = SampleProduct();
    ASSERT_EQ(image.records.size(), files.size());
    BuildCrcTable();
    for (std::size_t i = 0; i < files.size(); ++i) {
        const FileRecord& record = image.records[i];
        const ProductFile& file = files[i];
        EXPECT_EQ(record.name, WindowsName(Codepage(1252).FromUtf8(file.name).value()));
        EXPECT_EQ(record.file_size, file.contents.size());
        EXPECT_EQ(record.crc_value, UpdateCrc(CrcInitial, file.contents.data(),
                                              static_cast<std::uint32_t>(file.contents.size())));
        EXPECT_EQ(record.write_time, FiletimeFromUnix(file.write_seconds, kNanoseconds));
        EXPECT_EQ(record.access_time, FiletimeFromUnix(file.access_seconds, kNanoseconds));
        EXPECT_EQ(record.creation_time,
                  ReadFileTimes(scratch_ / "product" / fs::u8path(file.name)).creation);
    }
    EXPECT_EQ(image.stub_size, fs::file_size(RealStubPath()));
    EXPECT_EQ(image.header.total_size, 70000 + TextBytes(30000).size() + TextBytes(20).size());
}

TEST_F(RoundTrip, ExtractGivesBackContentsAndTimes)
{
    const fs::path setup = Build("setup.exe", 1);
    const TestOutcome tested = TestInstaller(setup, Codepage(1252));
    EXPECT_TRUE(tested.passed) << tested.message;
    EXPECT_EQ(tested.verdict.files_reached, SampleProduct().size());
    const fs::path out = scratch_ / "out";
    EXPECT_EQ(ExtractInstaller(setup, out, Codepage(1252)), SampleProduct().size());
    for (const ProductFile& file : SampleProduct()) {
        const fs::path path = out / fs::u8path(file.name);
        // Times first: reading the contents may move the access time.
        struct stat status {};
        ASSERT_EQ(stat(path.c_str(), &status), 0) << file.name;
        EXPECT_EQ(status.st_mtim.tv_sec, file.write_seconds) << file.name;
        EXPECT_EQ(status.st_atim.tv_sec, file.access_seconds) << file.name;
        EXPECT_EQ(status.st_mtim.tv_nsec, kNanoseconds / 100 * 100) << file.name;
        EXPECT_EQ(ReadFile(path), file.contents) << file.name;
    }
}

TEST_F(RoundTrip, SameInputGivesSameBytes)
{
    const fs::path first = Build("first.exe", 9);
    const fs::path second = Build("second.exe", 9);
    EXPECT_EQ(ReadFile(first), ReadFile(second));
}

TEST_F(RoundTrip, ToolCommandsAgreeWithTheLibrary)
{
    const std::string setup = (scratch_ / "tool-setup.exe").string();
    const testing::ToolRun build = RunTool({"build", (scratch_ / "product.toml").string(), "-o", setup, "-2"});
    ASSERT_EQ(build.exit_code, 0) << build.output;
    EXPECT_EQ(build.output, "");   // not a terminal: nothing but errors

    const testing::ToolRun list = RunTool({"list", setup});
    EXPECT_EQ(list.exit_code, 0) << list.output;
    EXPECT_NE(list.output.find("docs\\Manual \xC3\xA9" "dition\\chapter 1.txt"), std::string::npos) << list.output;
    EXPECT_NE(list.output.find("2017-07-14 02:40:00"), std::string::npos) << list.output;   // 1500000000
    EXPECT_NE(list.output.find("'App.lnk' -> 'Program Files Like\\bin\\app.exe'"), std::string::npos);

    const testing::ToolRun json = RunTool({"list", "--json", setup});
    EXPECT_EQ(json.exit_code, 0) << json.output;
    EXPECT_NE(json.output.find("\"file_count\" : 5"), std::string::npos) << json.output;
    EXPECT_NE(json.output.find("\"RunAfterInstall\" : \"Program Files Like\\\\bin\\\\app.exe\""),
              std::string::npos) << json.output;

    const testing::ToolRun test = RunTool({"test", setup});
    EXPECT_EQ(test.exit_code, 0) << test.output;
    EXPECT_NE(test.output.find("5 files, "), std::string::npos) << test.output;

    const testing::ToolRun extract = RunTool({"extract", setup, (scratch_ / "out").string()});
    EXPECT_EQ(extract.exit_code, 0) << extract.output;
    EXPECT_EQ(ReadFile(scratch_ / "out" / "readme.txt"), TextBytes(20));
}

TEST(ToolHelp, EveryCommandExplainsItself)
{
    for (const char* command : {"build", "list", "test", "extract", "encode", "decode"}) {
        const testing::ToolRun help = RunTool({command, "--help"});
        EXPECT_EQ(help.exit_code, 0) << command;
        EXPECT_NE(help.output.find("Usage"), std::string::npos) << command << ": " << help.output;
    }
    const testing::ToolRun top = RunTool({"--help"});
    for (const char* command : {"build", "list", "test", "extract"})
        EXPECT_NE(top.output.find(command), std::string::npos) << top.output;
}

// ---- the shortcut tables in the patched record ----------------------------

ProductTexts TextsWithRows(int start_menu_rows, int desktop_rows)
{
    ProductTexts texts;
    texts.title = "Korvan";
    texts.program_group = "Korvan";
    for (int i = 0; i < start_menu_rows; ++i)
        texts.start_menu.push_back({"Start " + std::to_string(i) + ".lnk", "bin\\s" + std::to_string(i) + ".exe"});
    for (int i = 0; i < desktop_rows; ++i)
        texts.desktop.push_back({"Desk " + std::to_string(i) + ".lnk", "bin\\d" + std::to_string(i) + ".exe"});
    return texts;
}

InstallerConfig PatchedRecord(const ProductTexts& texts)
{
    std::vector<std::string> problems;
    const Stub stub = CheckStub(ReadFile(RealStubPath()), "real", problems);
    EXPECT_TRUE(problems.empty());
    return ReadConfigRecord(PatchStub(stub, texts), stub.record_offset);
}

std::string RowMarker(const char* prefix, int row)
{
    char text[64];
    std::snprintf(text, sizeof text, "%s%02d", prefix, row);
    return text;
}

void ExpectTable(const ShortcutEntry* table, const std::vector<ShortcutRow>& rows, int marked_rows,
                 const char* link_marker, const char* file_marker)
{
    const int used = static_cast<int>(rows.size());
    EXPECT_EQ(CountShortcutRows(table), used);
    for (int i = 0; i < used; ++i) {
        EXPECT_EQ(SlotText(table[i].LinkName), rows[i].link);
        EXPECT_EQ(SlotText(table[i].TargetFile), rows[i].target);
    }
    if (used < marked_rows) {
        EXPECT_EQ(table[used].LinkName[0], '\0');
        EXPECT_EQ(table[used].TargetFile[0], '\0');
        // Only the first byte is emptied: the marker's tail stays behind.
        EXPECT_EQ(std::string(table[used].LinkName + 1), RowMarker(link_marker, used).substr(1));
    }
    for (int i = used + 1; i < marked_rows; ++i) {
        EXPECT_EQ(SlotText(table[i].LinkName), RowMarker(link_marker, i)) << "row " << i;
        EXPECT_EQ(SlotText(table[i].TargetFile), RowMarker(file_marker, i)) << "row " << i;
    }
}

class ShortcutTableEnd : public ::testing::TestWithParam<int> {};

TEST_P(ShortcutTableEnd, InstallerReadsExactlyTheConfiguredRows)
{
    const int rows = GetParam();
    const ProductTexts texts = TextsWithRows(rows, rows);
    const InstallerConfig config = PatchedRecord(texts);
    ExpectTable(config.StartMenuShortcuts, texts.start_menu, StartMenuMarkedRows,
                CONFIG_MARKER_START_MENU_LINK, CONFIG_MARKER_START_MENU_FILE);
    ExpectTable(config.DesktopShortcuts, texts.desktop, DesktopMarkedRows, CONFIG_MARKER_DESKTOP_LINK,
                CONFIG_MARKER_DESKTOP_FILE);
}

INSTANTIATE_TEST_SUITE_P(RowCounts, ShortcutTableEnd, ::testing::Range(0, ShortcutRows + 1));

TEST(PatchedRecord, StubSizeIsTheStubsLengthAndUnusedFieldsAreEmpty)
{
    const InstallerConfig config = PatchedRecord(TextsWithRows(0, 0));
    EXPECT_EQ(ConfiguredStubSize(&config), static_cast<int>(fs::file_size(RealStubPath())));
    EXPECT_EQ(SlotText(config.Title), "Korvan");
    EXPECT_EQ(SlotText(config.RunAfterInstall), "");
    EXPECT_EQ(SlotText(config.DefaultFolder), "");
    EXPECT_EQ(std::string(config.RunAfterInstall + 1), std::string(CONFIG_MARKER_RUN_AFTER_INSTALL).substr(1));
}

TEST_F(RoundTrip, SixteenRowsInBothTablesSurviveTheWholeBuild)
{
    std::string rows;
    for (const char* table : {"start_menu", "desktop"})
        for (int i = 0; i < ShortcutRows; ++i)
            rows += std::string("[[") + table + "]]\nlink = \"" + table + " " + std::to_string(i) +
                    ".lnk\"\ntarget = \"readme.txt\"\n";
    WriteFile(scratch_ / "product.toml", ConfigText("product", rows));
    const InstallerImage image = ReadInstallerImage(Build("rows.exe", 1));
    EXPECT_EQ(CountShortcutRows(image.config.StartMenuShortcuts), ShortcutRows);
    EXPECT_EQ(CountShortcutRows(image.config.DesktopShortcuts), ShortcutRows);
    EXPECT_EQ(SlotText(image.config.DesktopShortcuts[15].LinkName), "desktop 15.lnk");
    EXPECT_EQ(SlotText(image.config.StartMenuShortcuts[15].TargetFile), "readme.txt");
}

}  // namespace
}  // namespace stubkit
