// Build, list, test and extract together: what comes out equals what went
// in, times included, also through the Windows side's own extraction code;
// the same input gives the same bytes; the shortcut tables end where the
// installer will look for their end.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>

#include <regex>

#include "installer/installer_config.h"
#include "payload/crc32.h"
#include "stubkit/file_times.h"
#include "stubkit/pack_plan.h"
#include "test_support.h"

namespace stubkit {
namespace {
using namespace testing;

struct ProductFile { std::string name; Bytes contents; std::int64_t write_seconds, access_seconds; };   // name: '/' separated, UTF-8

Bytes TextBytes(std::size_t lines)
{
    std::string text;
    for (std::size_t i = 0; i < lines; ++i)
        text += "line " + std::to_string(i * 7919 % 1000) + " of the product's manual\n";
    return Bytes(text.begin(), text.end());
}

// Folders with blanks, empty files (one would sort last), a name outside
// ASCII, compressible and incompressible data. Listed in table order: empty
// files first, each group sorted by the bytes of the names.
const std::vector<ProductFile> kProduct = {
    {"Program Files Like/empty.dat", {}, 1400000000, 1400000002},
    {"zz last empty", {}, 1200000000, 1200000004},
    {"Program Files Like/bin/app.exe", NoiseBytes(70000, 7), 1500000000, 1500000001},
    {"docs/Manual \xC3\xA9" "dition/chapter 1.txt", TextBytes(30000), 1300000000, 1300000003},
    {"readme.txt", TextBytes(20), 1600000000, 1700000000},
};
constexpr long kNanoseconds = 123456789;   // odd: times must keep their 100 ns ticks

class RoundTrip : public ::testing::Test {
protected:
    void SetUp() override   // the product, and a config with all 16 rows in both tables
    {
        for (const ProductFile& file : kProduct) {
            const fs::path path = scratch_ / "product" / fs::u8path(file.name);
            WriteFile(path, file.contents);
            const timespec times[2] = {{file.access_seconds, kNanoseconds}, {file.write_seconds, kNanoseconds}};
            ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
        }
        std::string config = "run_after_install = \"Program Files Like\\\\bin\\\\app.exe\"\n";
        for (const char* table : {"start_menu", "desktop"})
            for (int i = 0; i < ShortcutRows; ++i)
                config += std::string("[[") + table + "]]\nlink = \"" + table + " " + std::to_string(i) +
                          ".lnk\"\ntarget = \"Program Files Like/bin/app.exe\"\n";
        WriteFile(scratch_ / "product.toml", ConfigText("product", config));
    }
    fs::path BuildSetup(const std::string& output, int level = 1, const fs::path& stub = {})
    {
        return Build(scratch_, output, level, [](const std::string& warning) { ADD_FAILURE() << warning; }, stub);
    }
    ScratchFolder scratch_;
};

TEST_F(RoundTrip, TableRecordTestAndExtractKeepNamesSizesCrcsTimesContentsAndAllRows)
{
    const fs::path setup = BuildSetup("setup.exe");
    const InstallerImage image = ReadInstallerImage(setup);
    ASSERT_EQ(image.records.size(), kProduct.size());
    BuildCrcTable();
    for (std::size_t i = 0; i < kProduct.size(); ++i) {
        const FileRecord& record = image.records[i];
        const ProductFile& file = kProduct[i];
        EXPECT_EQ(record.name, std::regex_replace(Codepage(1252).FromUtf8(file.name).value(), std::regex("/"), "\\"));
        EXPECT_EQ(record.file_size, file.contents.size());
        EXPECT_EQ(record.crc_value, UpdateCrc(CrcInitial, file.contents.data(), static_cast<std::uint32_t>(file.contents.size())));
        EXPECT_EQ(record.write_time, FiletimeFromUnix(file.write_seconds, kNanoseconds));
        EXPECT_EQ(record.access_time, FiletimeFromUnix(file.access_seconds, kNanoseconds));
        EXPECT_EQ(record.creation_time, ReadFileTimes(scratch_ / "product" / fs::u8path(file.name)).creation);
    }
    EXPECT_EQ(image.stub_size, fs::file_size(RealStubPath()));
    EXPECT_EQ(image.header.total_size, 70000 + TextBytes(30000).size() + TextBytes(20).size());
    EXPECT_EQ(CountShortcutRows(image.config.StartMenuShortcuts), ShortcutRows);
    EXPECT_EQ(CountShortcutRows(image.config.DesktopShortcuts), ShortcutRows);
    EXPECT_EQ(SlotText(image.config.DesktopShortcuts[15].LinkName), "desktop 15.lnk");
    EXPECT_EQ(SlotText(image.config.StartMenuShortcuts[15].TargetFile), "Program Files Like\\bin\\app.exe");

    const TestOutcome tested = TestInstaller(setup, Codepage(1252));
    EXPECT_TRUE(tested.passed) << tested.message;
    EXPECT_EQ(tested.verdict.files_reached, kProduct.size());
    EXPECT_EQ(ExtractInstaller(setup, scratch_ / "out", Codepage(1252)), kProduct.size());
    for (const ProductFile& file : kProduct) {
        const fs::path path = scratch_ / "out" / fs::u8path(file.name);
        struct stat status {};   // times first: reading the contents may move the access time
        ASSERT_EQ(stat(path.c_str(), &status), 0) << file.name;
        EXPECT_EQ(std::make_tuple(status.st_mtim.tv_sec, status.st_atim.tv_sec, status.st_mtim.tv_nsec),
                  std::make_tuple(file.write_seconds, file.access_seconds, kNanoseconds / 100 * 100)) << file.name;
        EXPECT_EQ(ReadFile(path), file.contents) << file.name;
    }
}

TEST_F(RoundTrip, SameInputGivesSameBytes)
{
    EXPECT_EQ(ReadFile(BuildSetup("first.exe", 9)), ReadFile(BuildSetup("second.exe", 9)));
}

// The extract-probe program carries the configuration record like the stub,
// so it makes an installer whose reader, decoder and sink are the installer's.
TEST_F(RoundTrip, InstallersOwnReaderUnderWineGivesBackTheProductWithItsTimes)
{
    const fs::path probe = fs::path(STUBKIT_WIN32_DIR) / "tests/extract/extract-probe.exe";
    if (!fs::exists(probe))
        GTEST_SKIP() << "no " << probe;
    const fs::path setup = BuildSetup("probe-setup.exe", 5, probe), out = scratch_ / "out";
    fs::create_directories(out);
    // A failing extraction shows a message box that nobody closes: the time limit makes it a failure.
    const std::string command = "timeout 120 '" STUBKIT_SOURCE_DIR "/cmake/wine-run' --wine-dir '" STUBKIT_WIN32_DIR
                                "/wine' '" + setup.string() + "' 'Z:" + out.string() + "' >/dev/null 2>&1";
    const int status = std::system(command.c_str());
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    for (const ProductFile& file : kProduct) {
        EXPECT_EQ(ReadFileTimes(out / fs::u8path(file.name)).write, FiletimeFromUnix(file.write_seconds, kNanoseconds)) << file.name;
        EXPECT_EQ(ReadFile(out / fs::u8path(file.name)), file.contents) << file.name;
    }
}

TEST_F(RoundTrip, ToolCommandsAgreeWithTheLibraryAndExplainThemselves)
{
    const std::string setup = (scratch_ / "tool-setup.exe").string();
    const auto [build, build_output] = RunTool({"build", (scratch_ / "product.toml").string(), "-o", setup, "-2"});
    ASSERT_EQ(build, 0) << build_output;
    EXPECT_EQ(build_output, "");   // not a terminal: nothing but errors
    const std::pair<std::vector<std::string>, std::vector<std::string>> runs[] = {
        {{"list", setup}, {"docs\\Manual \xC3\xA9" "dition\\chapter 1.txt", "2017-07-14 02:40:00" /* 1500000000 */,
                           "'desktop 15.lnk' -> 'Program Files Like\\bin\\app.exe'"}},
        {{"list", "--json", setup}, {"\"file_count\" : 5", "\"RunAfterInstall\" : \"Program Files Like\\\\bin\\\\app.exe\""}},
        {{"test", setup}, {"5 files, "}},
        {{"extract", setup, (scratch_ / "out").string()}, {}}};
    for (const auto& [arguments, expected] : runs) {
        const auto [code, output] = RunTool(arguments);
        EXPECT_EQ(code, 0) << arguments[0] << ": " << output;
        for (const std::string& text : expected)
            EXPECT_NE(output.find(text), std::string::npos) << text << " in " << output;
    }
    EXPECT_EQ(ReadFile(scratch_ / "out/readme.txt"), TextBytes(20));
    for (const char* command : {"build", "list", "test", "extract", "encode", "decode"}) {
        const auto [code, output] = RunTool({command, "--help"});
        EXPECT_TRUE(code == 0 && output.find("Usage") != std::string::npos) << command << ": " << output;
        EXPECT_NE(RunTool({"--help"}).second.find(command), std::string::npos) << command;
    }
}

// Patched against the real stub, whose first rows carry markers: the row
// after the last configured one is emptied, the marked rows after it remain.
class PatchedRecord : public ::testing::TestWithParam<int> {};

TEST_P(PatchedRecord, InstallerReadsExactlyTheConfiguredRowsAndNoUnusedField)
{
    const int used = GetParam();
    ProductTexts texts;
    texts.title = texts.program_group = "Korvan";
    for (int i = 0; i < used; ++i)
        for (auto* rows : {&texts.start_menu, &texts.desktop})
            rows->push_back({"Link " + std::to_string(i) + ".lnk", "bin\\" + std::to_string(rows == &texts.desktop) + std::to_string(i) + ".exe"});
    std::vector<std::string> problems;
    const Stub stub = CheckStub(ReadFile(RealStubPath()), "real", problems);
    const InstallerConfig config = ReadConfigRecord(PatchStub(stub, texts), stub.record_offset);
    EXPECT_EQ(ConfiguredStubSize(&config), static_cast<int>(fs::file_size(RealStubPath())));
    EXPECT_EQ(SlotText(config.Title) + "|" + SlotText(config.DefaultFolder) + "|" + SlotText(config.RunAfterInstall), "Korvan||");
    EXPECT_EQ(config.RunAfterInstall + 1, std::string(CONFIG_MARKER_RUN_AFTER_INSTALL).substr(1));   // emptied by its first byte only
    const struct { const ShortcutEntry* table; const std::vector<ShortcutRow>& rows; int marked; const char *link, *file; } tables[] = {
        {config.StartMenuShortcuts, texts.start_menu, StartMenuMarkedRows, CONFIG_MARKER_START_MENU_LINK, CONFIG_MARKER_START_MENU_FILE},
        {config.DesktopShortcuts, texts.desktop, DesktopMarkedRows, CONFIG_MARKER_DESKTOP_LINK, CONFIG_MARKER_DESKTOP_FILE}};
    for (const auto& t : tables) {
        EXPECT_EQ(CountShortcutRows(t.table), used);
        for (int i = 0; i < used; ++i)
            EXPECT_EQ(SlotText(t.table[i].LinkName) + " " + SlotText(t.table[i].TargetFile), t.rows[i].link + " " + t.rows[i].target);
        for (int i = used; i < t.marked; ++i) {
            const std::string number = (i < 10 ? "0" : "") + std::to_string(i), link = t.link + number, file = t.file + number;
            // The first row after the used ones is emptied by its first bytes only: the markers' tails stay behind.
            EXPECT_EQ(t.table[i].LinkName + (i == used), link.substr(i == used)) << "row " << i;
            EXPECT_EQ(t.table[i].TargetFile + (i == used), file.substr(i == used)) << "row " << i;
            EXPECT_TRUE(i != used || (t.table[i].LinkName[0] == '\0' && t.table[i].TargetFile[0] == '\0'));
        }
    }
}

INSTANTIATE_TEST_SUITE_P(RowCounts, PatchedRecord, ::testing::Range(0, ShortcutRows + 1));

}  // namespace
}  // namespace stubkit
