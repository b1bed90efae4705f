// Built installers read back: build, list, test and extract (and the Windows side's own extraction code) give back
// what went in, times included; the shortcut tables end where the installer looks. Damaged installers are judged
// without a crash or a hang, and one that passes gives back the product; the installer's extraction rules in memory.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <cstring>
#include <regex>
#include <sstream>
#include "common/installer_config.h"
#include "payload/crc32.h"
#include "stubkit/container/payload_run.h"
#include "stubkit/encoder/encoder.h"
#include "stubkit/files/file_times.h"
#include "stubkit/pack/stub.h"
#include "test_support.h"

namespace stubkit {
namespace {
using namespace testing;
struct ProductFile { std::string name; Bytes contents; std::int64_t write_seconds, access_seconds; };   // name: '/' separated, UTF-8

Bytes TextBytes(std::size_t lines, std::string text = "")
{
    while (lines--)
        text += "line " + std::to_string(lines * 7919 % 1000) + " of the product's manual\n";
    return Bytes(text.begin(), text.end());
}

// Folders with blanks, empty files (one would sort last), a name outside
// ASCII, compressible and incompressible data. Listed in table order: empty
// files first, each group sorted by the bytes of the names.
const std::vector<ProductFile> kProduct = {
    {"Program Files Like/empty.dat", {}, 1400000000, 1400000002}, {"zz last empty", {}, 1200000000, 1200000004},
    {"Program Files Like/bin/app.exe", NoiseBytes(70000, 7), 1500000000, 1500000001},
    {"docs/Manual \xC3\xA9" "dition/chapter 1.txt", TextBytes(30000), 1300000000, 1300000003},
    {"readme.txt", TextBytes(20), 1600000000, 1700000000}};
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
        std::string config = "run_after_install = \"Program Files Like/bin/app.exe /S a/b\"\n";
        for (int i = 0; i < 2 * ShortcutRows; ++i)
            config += std::string(i < ShortcutRows ? "[[start_menu]]\nlink = \"start_menu " : "[[desktop]]\nlink = \"desktop ") +
                      std::to_string(i % ShortcutRows) + ".lnk\"\ntarget = \"Program Files Like/bin/app.exe\"\n";
        WriteFile(scratch_ / "product.toml", ConfigText("product", config));
    }
    fs::path BuildSetup(const std::string& output, int level = 1, const fs::path& stub = {})
    { return Build(scratch_, output, level, [](const std::string& warning) { ADD_FAILURE() << warning; }, stub); }
    ScratchFolder scratch_;
};

TEST_F(RoundTrip, SameBytesEachTimeAndTableRecordTestAndExtractKeepNamesSizesCrcsTimesContentsAndAllRows)
{
    const fs::path setup = BuildSetup("setup.exe", 9);
    EXPECT_EQ(ReadFile(setup), ReadFile(BuildSetup("again.exe", 9)));
    const InstallerImage image = ReadInstallerImage(setup);
    ASSERT_EQ(image.records.size(), kProduct.size());
    BuildCrcTable();
    for (std::size_t i = 0; i < kProduct.size(); ++i) {
        const ProductFile& file = kProduct[i];
        const auto size = static_cast<std::uint32_t>(file.contents.size());
        const FileRecord expected{UpdateCrc(CrcInitial, file.contents.data(), size), size,
                                  ReadFileTimes(scratch_ / "product" / fs::u8path(file.name)).creation,
                                  FiletimeFromUnix(file.write_seconds, kNanoseconds), FiletimeFromUnix(file.write_seconds, kNanoseconds),
                                  std::regex_replace(Codepage(1252).FromUtf8(file.name).value(), std::regex("/"), "\\")};
        EXPECT_EQ(SerializeFileTable({image.records[i]}), SerializeFileTable({expected})) << file.name;
    }
    EXPECT_EQ(image.stub_size, fs::file_size(RealStubPath()));
    EXPECT_EQ(image.header.total_size, 70000 + TextBytes(30000).size() + TextBytes(20).size());
    EXPECT_EQ(CountShortcutRows(image.config.StartMenuShortcuts) + CountShortcutRows(image.config.DesktopShortcuts), 2 * ShortcutRows);
    EXPECT_EQ(SlotText(image.config.DesktopShortcuts[15].LinkName) + " " + SlotText(image.config.StartMenuShortcuts[15].TargetFile),
              "desktop 15.lnk Program Files Like\\bin\\app.exe");

    const TestOutcome tested = TestInstaller(setup, Codepage(1252));
    EXPECT_TRUE(tested.passed && tested.verdict.files_reached == kProduct.size()) << tested.message;
    EXPECT_EQ(ExtractInstaller(setup, scratch_ / "out", Codepage(1252)), kProduct.size());
    for (const ProductFile& file : kProduct) {
        const fs::path path = scratch_ / "out" / fs::u8path(file.name);
        struct stat status {};   // times first: reading the contents may move the access time
        ASSERT_EQ(stat(path.c_str(), &status), 0) << file.name;
        EXPECT_EQ(std::make_tuple(status.st_mtim.tv_sec, status.st_atim.tv_sec, status.st_mtim.tv_nsec),
                  std::make_tuple(file.write_seconds, file.write_seconds, kNanoseconds / 100 * 100)) << file.name;
        EXPECT_EQ(ReadFile(path), file.contents) << file.name;
    }
    // SOURCE_DATE_EPOCH is the latest time recorded, whoever made the files when.
    const std::uint64_t epoch = FiletimeFromUnix(1350000000, 0);
    setenv("SOURCE_DATE_EPOCH", "1350000000", 1);
    const fs::path clamped = BuildSetup("epoch.exe");
    unsetenv("SOURCE_DATE_EPOCH");
    const InstallerImage clamped_image = ReadInstallerImage(clamped);
    for (std::size_t i = 0; i < kProduct.size(); ++i) {
        const FileRecord& record = clamped_image.records[i];
        EXPECT_EQ(std::make_tuple(record.creation_time, record.access_time, record.write_time),
                  std::make_tuple(epoch, std::min(epoch, FiletimeFromUnix(kProduct[i].write_seconds, kNanoseconds)),
                                  std::min(epoch, FiletimeFromUnix(kProduct[i].write_seconds, kNanoseconds))))
            << kProduct[i].name;
    }
}

// The extract-probe program carries the configuration record like the stub,
// so it makes an installer whose reader, decoder and sink are the installer's;
// signed, it must install exactly as unsigned.
TEST_F(RoundTrip, InstallersOwnReaderUnderWineGivesBackTheProductWithItsTimesSignedOrNot)
{
    const fs::path probe = fs::path(STUBKIT_WIN32_DIR) / "tests/extract/extract-probe.exe";
    if (!fs::exists(probe))
        GTEST_SKIP() << "no " << probe;
    if (std::system("'" STUBKIT_SOURCE_DIR "/cmake/wine-run' --check") != 0)
        GTEST_SKIP() << "Wine cannot run 32-bit programs on this machine";
    const ThrowawayKey key(scratch_ / "keys");
    for (const bool sign : {false, true}) {
        const std::string kind = sign ? "signed" : "unsigned";
        const fs::path setup = sign ? SignedBuild(scratch_, kind + "-probe-setup.exe", key.Pem(), probe)
                                    : BuildSetup(kind + "-probe-setup.exe", 5, probe);
        ASSERT_EQ(InspectSignature(setup, key.certificate).verified, sign) << kind;
        const fs::path out = scratch_ / ("out-" + kind);
        fs::create_directories(out);
        // A failing extraction shows a message box that nobody closes: the time limit makes it a failure.
        const std::string command = "timeout 120 '" STUBKIT_SOURCE_DIR "/cmake/wine-run' --wine-dir '" STUBKIT_WIN32_DIR
                                    "/wine' '" + setup.string() + "' 'Z:" + out.string() + "' >/dev/null 2>&1";
        ASSERT_EQ(std::system(command.c_str()), 0) << kind;
        for (const ProductFile& file : kProduct) {
            EXPECT_EQ(ReadFileTimes(out / fs::u8path(file.name)).write, FiletimeFromUnix(file.write_seconds, kNanoseconds)) << kind << " " << file.name;
            EXPECT_EQ(ReadFile(out / fs::u8path(file.name)), file.contents) << kind << " " << file.name;
        }
    }
}

// A command line, texts its output holds, and its exit status (0 done, 1 the work failed, 2 a usage error).
struct ToolRun { std::vector<std::string> arguments; std::vector<std::string> expected; int status; };
void ExpectToolRuns(const std::vector<ToolRun>& runs)
{
    for (const auto& [arguments, expected, status] : runs) {
        const auto [code, output] = RunTool(arguments);
        EXPECT_EQ(code, status) << (arguments.empty() ? "" : arguments[0]) << ": " << output;
        for (const std::string& text : expected)
            EXPECT_NE(output.find(text), std::string::npos) << text << " in " << output;
    }
}

TEST_F(RoundTrip, ToolCommandsSayWhatTheyDidAndWriteWhatTheLibraryReads)
{
    const std::string setup = (scratch_ / "tool-setup.exe").string();
    const auto [build, build_output] = RunTool({"build", (scratch_ / "product.toml").string(), "-o", setup, "-2"});
    // Not a terminal: no progress bar, but the summary (and warnings, below) still reach a script's log.
    ASSERT_TRUE(build == 0 && build_output.rfind("stubkit: wrote ", 0) == 0 && build_output.find('\r') == std::string::npos) << build_output;
    WriteFile(scratch_ / "warns.toml", ConfigText("product", "[[desktop]]\nlink = \"x.lnk\"\ntarget = \"none.exe\""));
    WriteFile(scratch_ / "faulty.toml", ConfigText("product", "", std::string(208, 't')));
    const std::string folder = scratch_.path.string(), out = folder + "/out", some = folder + "/some";
    ExpectToolRuns({
        {{"list", setup}, {"docs\\Manual \xC3\xA9" "dition\\chapter 1.txt", "2017-07-14 02:40:00" /* 1500000000 */,
                           "'desktop 15.lnk' -> 'Program Files Like\\bin\\app.exe'"}, 0},
        {{"list", "--json", setup}, {"\"file_count\": 5", "\"RunAfterInstall\": \"Program Files Like\\\\bin\\\\app.exe /S a/b\""}, 0},
        {{"test", setup}, {"5 files, "}, 0},
        {{"test", "--json", setup}, {"\"passed\": true", "\"state\": \"ok\""}, 0},
        {{"extract", setup, out}, {"extracted 5 files"}, 0},
        {{"extract", setup, some, "Program Files Like\\bin", "*.txt"}, {"extracted 3 files"}, 0},
        {{"extract", "-q", setup, some + "2", "readme.txt"}, {}, 0},
        {{"extract", setup, some + "3", "readme.txt", "no*"}, {"'no*' matches no file in", "nothing was extracted"}, 1},
        {{"build", folder + "/warns.toml", "-o", folder + "/warns.exe"}, {"stubkit: warning: " + folder + "/warns.toml:5: desktop[0].target: 'none.exe'"}, 0},
        {{"build", (scratch_ / "product.toml").string(), "-o", folder + "/ultra.exe", "-11", "-q"}, {}, 0},
        {{"build", folder + "/faulty.toml", "-o", folder + "/f.exe", "--sign-url", "x"},
         {"2 problems, 1 of them in '" + folder + "/faulty.toml'; nothing was written"}, 1}});
    EXPECT_EQ(ReadFile(scratch_ / "out/readme.txt"), TextBytes(20));
    EXPECT_EQ(ReadFile(scratch_ / "some/Program Files Like/bin/app.exe"), kProduct[2].contents);
    EXPECT_TRUE(fs::exists(scratch_ / "some/readme.txt") && !fs::exists(scratch_ / "some/Program Files Like/empty.dat"));
    EXPECT_TRUE(fs::exists(scratch_ / "some2/readme.txt") && !fs::exists(scratch_ / "some3"));
    EXPECT_TRUE(TestInstaller(folder + "/ultra.exe", Codepage(1252)).passed);
}

// The command line is judged before any input is opened.
TEST_F(RoundTrip, UsageErrorsExitWithTwoBeforeAnyInputIsRead)
{
    const std::string setup = BuildSetup("setup.exe").string(), missing = scratch_.path.string() + "/missing.exe";
    ExpectToolRuns({
        {{}, {"stubkit: no command given; the commands are build, list", "Try 'stubkit --help'"}, 2},
        {{"frob"}, {"unknown command 'frob'; the commands are build, list"}, 2},
        {{"list", "--frob", setup}, {"stubkit list: unknown option '--frob'\nTry 'stubkit list --help'"}, 2},
        {{"extract", setup}, {"stubkit extract: missing DIR\n"}, 2},
        {{"extract", setup, "-"}, {"stubkit extract: DIR: '-': extract writes files into a folder"}, 2},
        {{"build", "-q", "-v", missing}, {"stubkit build: --quiet excludes --verbose"}, 2},
        {{"build", "-D", "VERSION", missing}, {"stubkit build: --define: 'VERSION' is not NAME=VALUE"}, 2},
        {{"test", "--bogus", missing}, {"stubkit test: unknown option '--bogus'"}, 2},
        {{"test", missing, "--help"}, {"Usage"}, 0},
        {{"test", "--codepage", std::string(300, '9'), setup}, {"code page '999999999999...' is not a Windows ANSI code page; use one of 874"}, 2},
        {{"encode", "-T", "0", setup, scratch_.path.string() + "/x.bin"}, {"--threads: Value 0 not in range 1 to 64"}, 2},
        {{"decode", "--total", "12x", setup, scratch_.path.string() + "/out.bin"}, {"'12x' is not a byte count"}, 2}});
}

TEST_F(RoundTrip, InputsThatCannotBeUsedFailWithOneNamingThemselves)
{
    const std::string setup = BuildSetup("setup.exe").string(), folder = scratch_.path.string(), fifo = folder + "/fifo";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    WriteFile(scratch_ / "stream.bin", "");
    ExpectToolRuns({
        {{"list", folder}, {"is a folder, not a regular file"}, 1},
        {{"list", folder + "/" + std::string(300, 'n')}, {"File name too long"}, 1},
        {{"test", folder + "/missing.exe"}, {"cannot open '" + folder + "/missing.exe': No such file"}, 1},
        {{"build", folder + "/product.toml", "--sign-pkcs12", folder + "/missing.p12"}, {"missing.p12': No such file"}, 1},
        {{"extract", setup, ""}, {"the folder to extract into is empty"}, 1},
        {{"test", fifo}, {"fifo' is a FIFO, not a regular file"}, 1},
        {{"build", fifo}, {"fifo' is a FIFO, not a regular file"}, 1},
        {{"decode", "--total", "1000", folder + "/stream.bin", folder + "/out.bin"}, {"yields 0 of the 1000 bytes"}, 1}});
    // A sub-folder the user cannot read is named itself, not by the product folder that holds it.
    fs::permissions(scratch_.path, fs::perms::owner_all | fs::perms::group_exec | fs::perms::others_exec);
    WriteFile(scratch_ / "locked/prod/sub/x.txt", "x");
    WriteFile(scratch_ / "locked/product.toml", ConfigText("prod"));
    fs::permissions(scratch_ / "locked/prod/sub", fs::perms::none);
    EXPECT_NE(RunCommand("setpriv --reuid=65534 --regid=65534 --clear-groups '" STUBKIT_TOOL "' build '" + folder + "/locked/product.toml' -o '" + folder + "/locked-setup.exe'")
                  .second.find("cannot read '" + folder + "/locked/prod/sub': Permission denied"), std::string::npos);
}

TEST(ToolHelp, EveryCommandHasHelpAndTheToolNamesItsVersion)
{
    for (const char* command : {"build", "list", "test", "extract", "encode", "decode"}) {
        const auto [code, output] = RunTool({command, "--help"});
        EXPECT_TRUE(code == 0 && output.find("Usage") != std::string::npos) << command << ": " << output;
        EXPECT_NE(RunTool({"--help"}).second.find(command), std::string::npos) << command;
    }
    EXPECT_NE(RunTool({"--version"}).second.find("stubkit "), std::string::npos);
    // Parameterised cases are listed by their names, not by the bytes of their parameters.
    EXPECT_EQ(RunCommand("/proc/self/exe --gtest_list_tests").second.find("-byte object"), std::string::npos);
}

// Patched against the real stub, whose first rows carry markers: the row after the last configured one is
// emptied by its first bytes only (the markers' tails stay behind), the marked rows after it remain.
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
            EXPECT_EQ(t.table[i].LinkName + (i == used), link.substr(i == used)) << "row " << i;
            EXPECT_EQ(t.table[i].TargetFile + (i == used), file.substr(i == used)) << "row " << i;
            EXPECT_TRUE(i != used || (t.table[i].LinkName[0] == '\0' && t.table[i].TargetFile[0] == '\0'));
        }
    }
}

INSTANTIATE_TEST_SUITE_P(RowCounts, PatchedRecord, ::testing::Range(0, ShortcutRows + 1));

struct CollectingOutput : FileOutput {
    void Open(std::size_t, const FileRecord&) override { files.emplace_back(); }
    void Write(const std::uint8_t* bytes, std::size_t size) override { files.back().insert(files.back().end(), bytes, bytes + size); }
    void Close(std::size_t, const FileRecord&) override {}
    void Abandon(std::size_t) override {}
    std::vector<Bytes> files;
};
struct Judgement { bool passed = false; std::string message; std::vector<Bytes> files; };

// Three files, the last one not empty, so that every count matters.
const std::vector<Bytes> kContents = {NoiseBytes(3000, 1), Bytes(20000, 'a'), NoiseBytes(9000, 2)};

class DamagedInstaller : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        for (std::size_t i = 0; i < kContents.size(); ++i)
            WriteFile(scratch_ / ("product/" + std::string(i == 0 ? "a.bin" : i == 1 ? "b/b.txt" : "c.bin")), kContents[i]);
        WriteFile(scratch_ / "product.toml", ConfigText("product"));
        good_ = ReadFile(Build(scratch_, "good.exe"));
        image_ = ReadInstallerImage(scratch_ / "good.exe");
    }
    // Judges BYTES as the installer would; a pass is only honest if every file came out as packed.
    Judgement Judge(const Bytes& bytes, const std::string& what)
    {
        WriteFile(scratch_ / "variant.exe", bytes);
        Judgement judgement;
        try {
            const InstallerImage image = ReadInstallerImage(scratch_ / "variant.exe");
            CollectingOutput output;
            const PayloadVerdict verdict = RunPayload(image, &output, nullptr);
            judgement = {verdict.success && HeaderInconsistency(image).empty(),
                         verdict.damaged_file ? "crc " + image.records[*verdict.damaged_file].name : HeaderInconsistency(image), output.files};
        } catch (const FormatError& error) {
            judgement = {false, error.what(), {}};
        }
        EXPECT_TRUE(!judgement.passed || judgement.files == kContents) << what;
        return judgement;
    }
    Bytes Cut(std::size_t size) const { return Bytes(good_.begin(), good_.begin() + static_cast<long>(size)); }
    // The good installer with other names in its table; the stream stays as it is.
    Bytes WithNames(const std::vector<std::string>& names) const
    {
        std::vector<FileRecord> records = image_.records;
        for (std::size_t i = 0; i < records.size(); ++i)
            records[i].name = names[i];
        return WithRecords(records);
    }
    Bytes WithRecords(const std::vector<FileRecord>& records) const
    {
        const Bytes table = SerializeFileTable(records);
        const Bytes header = SerializeHeader({image_.header.file_count, image_.header.total_size, static_cast<std::uint32_t>(table.size())});
        Bytes bytes = Cut(payload_);
        bytes.insert(bytes.end(), header.begin(), header.end());
        bytes.insert(bytes.end(), table.begin(), table.end());
        bytes.insert(bytes.end(), good_.begin() + static_cast<long>(stream_), good_.end());
        return bytes;
    }
    static void ExpectParts(const std::string& message, const std::string& parts, const std::string& what)
    {
        std::istringstream split(parts);
        for (std::string part; std::getline(split, part, '|');)
            EXPECT_NE(message.find(part), std::string::npos) << what << ": " << message;
    }

    static inline ScratchFolder scratch_;
    static inline Bytes good_;
    static inline InstallerImage image_;
    const std::size_t payload_ = image_.stub_size, stream_ = static_cast<std::size_t>(image_.stream_offset);
};

TEST_F(DamagedInstaller, GoodOrWithBytesAppendedPassesCutAnywhereFailsUnlessNothingUsedWasLost)
{
    Bytes appended = good_, tail = NoiseBytes(5000, 3);
    appended.insert(appended.end(), tail.begin(), tail.end());
    EXPECT_TRUE(Judge(good_, "good").passed);
    EXPECT_TRUE(Judge(appended, "bytes after the stream").passed);
    // Every 499th byte of the stub, every byte of header and table from the stub's end, every 37th of the stream.
    EXPECT_FALSE(Judge(Cut(payload_), "stub only").passed);   // a missing header is an incomplete file, not an empty product
    for (std::size_t cut = 0; cut < good_.size(); cut = cut + 499 < payload_ ? cut + 499 : cut < payload_ ? payload_ + 1 : cut + (cut < stream_ ? 1 : 37))
        EXPECT_TRUE(!Judge(Cut(cut), "cut at " + std::to_string(cut)).passed || cut >= good_.size() - 8) << "cut at " << cut;
}

TEST_F(DamagedInstaller, FlippedBytesNeverPassWithWrongContents)
{
    int positions = 0, failures_in_stream = 0;
    for (std::size_t at = payload_; at < good_.size(); at += at < stream_ ? 1 : 13, ++positions)
        for (std::uint8_t mask : {0x01, 0x80, 0xFF}) {
            Bytes bytes = good_;
            bytes[at] ^= mask;
            failures_in_stream += at >= stream_ && !Judge(bytes, "flip " + std::to_string(mask) + " at " + std::to_string(at)).passed;
        }
    EXPECT_GT(failures_in_stream, positions);   // most flips in the stream are caught; a few land in unused bits
}

// DELTA is added to FIELD (0 file_count, 1 total_size, 2 table_size), or is its value when ABSOLUTE.
struct HeaderBend { const char* name; std::size_t field; std::int64_t delta; bool absolute; const char* expected; };
void PrintTo(const HeaderBend& bend, std::ostream* out) { *out << bend.name; }
class BogusHeader : public DamagedInstaller, public ::testing::WithParamInterface<HeaderBend> {};
TEST_P(BogusHeader, IsRejected)
{
    const HeaderBend& bend = GetParam();
    Bytes bytes = good_;
    std::uint32_t value;
    std::memcpy(&value, &bytes[payload_ + 4 * bend.field], 4);
    value = static_cast<std::uint32_t>(bend.absolute ? bend.delta : value + bend.delta);
    std::memcpy(&bytes[payload_ + 4 * bend.field], &value, 4);
    const Judgement judgement = Judge(bytes, bend.name);
    EXPECT_FALSE(judgement.passed);
    EXPECT_NE(judgement.message.find(bend.expected), std::string::npos) << judgement.message;
}

INSTANTIATE_TEST_SUITE_P(
    Bends, BogusHeader,
    ::testing::Values(HeaderBend{"OneFileMore", 0, 1, false, "cannot hold"}, HeaderBend{"OneFileLess", 0, -1, false, ""},
                      HeaderBend{"HugeFileCount", 0, 0xFFFFFFFF, true, "cannot hold"}, HeaderBend{"NoFiles", 0, 0, true, "total_size"},
                      HeaderBend{"TotalOneMore", 1, 1, false, ""}, HeaderBend{"TotalOneLess", 1, -1, false, ""},
                      HeaderBend{"TotalZero", 1, 0, true, "total_size 0"}, HeaderBend{"TotalHuge", 1, 0xFFFFFFFF, true, ""},
                      HeaderBend{"TableOneMore", 2, 1, false, ""}, HeaderBend{"TableOneLess", 2, -1, false, "runs past the table's end"},
                      HeaderBend{"TableOverCapacity", 2, kFileTableCapacity + 1, true, "exceeds the installer's limit"},
                      HeaderBend{"TableHuge", 2, 0xFFFFFFFF, true, "exceeds the installer's limit"}),
    [](const ::testing::TestParamInfo<HeaderBend>& info) { return std::string(info.param.name); });

TEST_F(DamagedInstaller, ToolRejectsAnUnpatchedStubAndNamesTheFileThatFailsItsCrcOrHasADeviceName)
{
    Bytes bytes = good_, huge_stub = good_;
    bytes[payload_ + 12 + 33 + image_.records[0].name.size()] ^= 0x01;   // the second record's crc_value
    WriteFile(scratch_ / "variant.exe", bytes);
    std::memcpy(&huge_stub[*FindConfigRecord(good_)], "99999999999", 12);   // beyond int: shown as written, not wrapped
    WriteFile(scratch_ / "huge-stub.exe", huge_stub);
    WriteFile(scratch_ / "stub-only.exe", Cut(payload_));
    Bytes device = good_;
    std::memcpy(&device[payload_ + 12 + 33], "COM0.", 5);   // the first name, "a.bin"
    WriteFile(scratch_ / "device.exe", device);
    // A patched stub (a byte of its DOS text), and records `build` never writes.
    Bytes patched_stub = good_, climbing = good_, link = good_;
    patched_stub[100] ^= 0x20;
    WriteFile(scratch_ / "patched-stub.exe", patched_stub);
    WriteFile(scratch_ / "its-stub.exe", Bytes(patched_stub.begin(), patched_stub.begin() + static_cast<long>(payload_)));
    const std::size_t record = *FindConfigRecord(good_);
    const std::string run_after = "..\\..\\windows\\system32\\cmd.exe /c x";
    std::memcpy(&climbing[record + offsetof(InstallerConfig, RunAfterInstall)], run_after.c_str(), run_after.size() + 1);
    WriteFile(scratch_ / "climbing.exe", climbing);
    std::memcpy(&link[record + offsetof(InstallerConfig, DesktopShortcuts)], "..\\StartUp\\evil.lnk", 20);
    std::memcpy(&link[record + offsetof(InstallerConfig, DesktopShortcuts) + 260], "a.bin", 6);
    WriteFile(scratch_ / "link.exe", link);
    Bytes bent = good_;   // total_size one more than the files hold
    bent[payload_ + 4] += 1;
    WriteFile(scratch_ / "bent.exe", bent);
    const std::string variant = (scratch_ / "variant.exe").string(), devices = (scratch_ / "device.exe").string(),
                      out = (scratch_ / "out").string();
    const std::pair<std::vector<std::string>, std::string> runs[] = {
        {{"test", RealStubPath().string()}, "unconfigured installation file"},
        {{"test", (scratch_ / "huge-stub.exe").string()}, "StubSize reads '99999999999', outside 1 to 16777216 bytes"},
        {{"test", (scratch_ / "stub-only.exe").string()}, "cut inside the payload header (0 of 12 bytes); the installer would stop with"},
        {{"extract", (scratch_ / "stub-only.exe").string(), out}, "is incomplete: cut inside the payload header"},
        {{"test", variant}, "file 'b\\b.txt' fails its CRC check"},
        {{"extract", variant, out}, "file 'b\\b.txt' fails its CRC check"},
        {{"test", devices}, "file 'COM0.' has a name the installer refuses"},
        {{"extract", devices, out}, "file 'COM0.' has a name the installer refuses"},
        {{"test", (scratch_ / "patched-stub.exe").string()}, "is not the stub of this stubkit (its stub differs from the known one at byte 100)"},
        {{"extract", (scratch_ / "patched-stub.exe").string(), out}, "is not the stub of this stubkit"},
        {{"test", (scratch_ / "climbing.exe").string()}, "configuration record: RunAfterInstall: '..\\..\\windows\\system32\\cmd.exe /c x'"},
        {{"test", (scratch_ / "link.exe").string()}, "DesktopShortcuts[0].LinkName: '..\\StartUp\\evil.lnk' is not a plain file name"},
        {{"test", "--json", variant}, "\"state\": \"damaged\""},
        {{"test", "--json", variant}, "\"state\": \"unchecked\""},
        {{"test", "--json", (scratch_ / "stub-only.exe").string()}, "\"files\": []"},
        {{"test", "--json", devices}, "\"rule\": \"trailing-dot-or-blank\""},
        {{"test", "--json", devices}, "\"installer_message\": \"This is a corrupted installation file.\""},
        {{"test", "--folder", "D:\\" + std::string(250, 'f'), (scratch_ / "bent.exe").string()},
         "file 'b\\b.txt' does not fit under 'D:\\" + std::string(250, 'f') + "\\': the path takes 261 characters"},
        {{"list", (scratch_ / "bent.exe").string()}, "\n                 ! header: total_size 32001 differs from the sum of the file sizes, 32000\n"},
        {{"list", "--json", (scratch_ / "bent.exe").string()}, "\"header_problem\": \"header: total_size 32001"}};
    for (const auto& [arguments, expected] : runs) {
        const auto [code, output] = RunTool(arguments);
        EXPECT_EQ(code, arguments[0] == "list" ? 0 : 1) << arguments[0] << ": " << output;
        EXPECT_NE(output.find(expected), std::string::npos) << output;
    }
    EXPECT_EQ(RunTool({"test", "--stub", (scratch_ / "its-stub.exe").string(), (scratch_ / "patched-stub.exe").string()}).first, 0);
    EXPECT_NE(RunTool({"list", (scratch_ / "patched-stub.exe").string()}).second.find("Stub             unknown: "), std::string::npos);
    EXPECT_NE(RunTool({"list", variant}).second.find("Stub             the stub of this stubkit"), std::string::npos);
}

// The name table: each row puts NAMES in place of a.bin, b\b.txt and c.bin. The rows marked Windows-only are
// hazards Wine does not show (a stream, a superscript port, a short-name alias): the installer's side of them is
// seen only on Windows itself, so here they are judged by the shared rule alone.
TEST_F(DamagedInstaller, NamesTheInstallerRefusesOrThatLandOnOneFileFailTestAndExtractWritesNothing)
{
    const std::string refused = "has a name the installer refuses: ", corrupted = "the installer would stop with \"This is a corrupted installation file.\"";
    const std::string empty = refused + "'' has an empty name|" + corrupted, nothing = refused + "it has an empty name|" + corrupted, character = "contains a control character or one of|" + corrupted,
                      dot = "ends in a dot or a blank|" + corrupted, device = "is a reserved device name|" + corrupted,
                      alias = "has the form of a generated 8.3 short name|" + corrupted, own = "it is the installer's own|" + corrupted;
    const std::string lone = "ends in the first byte of a two-byte character|" + corrupted,
                      undefined = "leaves undefined, so which name Windows gives the file cannot be told",
                      too_long = "does not fit under 'C:\\x\\': the path takes 260 characters|\"Cannot create file:\"";
    // NAMES; parts of the message, empty when the installer takes them; the code page; the folder whose
    // lengths are judged (extract, which writes elsewhere, is not asked about those rows).
    struct NameCase { std::vector<std::string> names; std::string expected; int codepage = 1252; std::optional<std::string> folder = {}; };
    const std::string euros86 = std::string(86, '\x80');   // 86 bytes and UTF-16 characters, 258 bytes in UTF-8
    const NameCase cases[] = {
        {{"a.bin", "b\\b.txt", "x..y\\.c"}, ""},
        {{"a.bin", "sub\\davirado.exe", "c~1.longer"}, ""},
        {{"\\a.bin", "b\\b.txt", "c.bin"}, empty},
        {{"a.bin", "\\\\server\\share\\b", "c.bin"}, empty},
        {{"a.bin", "b\\\\b.txt", "b\\b.txt"}, empty},   // a doubled backslash beside the single one
        {{"", "b\\b.txt", "c.bin"}, nothing},
        {{"a.bin", "b\\", "c.bin"}, empty},
        {{"a.bin", "newdir/b.txt", "c.bin"}, refused + "it contains a control character or one of|" + corrupted},
        {{"a.bin", "b\\b.txt", "c:c.bin"}, character},
        {{"a.bin", "b\\b.txt", "c.bin:hidden"}, character},   // Windows-only: a stream of c.bin
        {{"a<b", "b\\b|x", "c.bin"}, character},
        {{"a.bin", "b\\q?\"*>", "c.bin"}, character},
        {{"a.bin", "b\\tab\t", "c.bin"}, character},
        {{"a.bin", "b\\esc\x1b", "c.bin"}, character},
        {{"a.bin", "b\\b.txt", std::string("c\0..\\x", 6)}, character},
        {{"..\\a.bin", "b\\b.txt", "c.bin"}, refused + "'..' climbs to the folder above|" + corrupted},
        {{"a.bin", "b\\ . .\\b", "c.bin"}, dot},
        {{"a.bin", "b\\.\\b.txt", "b\\b.txt"}, dot},
        {{"a.bin", "a.bin.", "c.bin"}, dot},
        {{"a.bin", "b\\Nul.txt", "c.bin"}, refused + "'Nul.txt' is a reserved device name|" + corrupted},
        {{"a.bin", "b\\COM\xB9", "c.bin"}, device},   // Windows-only: superscript ports
        {{"a.bin", "LPT\xB2.txt", "c.bin"}, device},
        {{"a.bin", "b\\com\xB3 .log", "c.bin"}, device},
        {{"longfilename.txt", "LONGFI~1.TXT", "c.bin"}, alias},   // Windows-only: one file by its short name
        {{"a.bin", "b\\PROGR~12", "c.bin"}, alias},
        {{"DAVIRADO.EXE", "b\\b.txt", "c.bin"}, own},
        {{"a.bin", "b\\b.txt", "Davirado.Dat"}, own},
        {{"a.bin", "b\\b.txt", "davirado.dat."}, dot},
        {{"a.bin", "B\\B.TXT", "b\\b.txt"}, "file 'b\\b.txt' and file 'B\\B.TXT' are one file on Windows|the second would replace the first"},
        {{"a.bin", "A.BIN\\b.txt", "c.bin"}, "file 'a.bin' is also the folder of file 'A.BIN\\b.txt'"},
        // Double-byte code pages: the system drops a lone lead byte, and a trail byte 0x5C is no separator.
        {{"a.bin", "b\\b\x95", "c.bin"}, lone, 932},
        {{"a.bin", "b\\b.txt", "c\x81"}, lone, 936},
        {{"a.bin", "b\\b\x95", "c.bin"}, "", 1252},
        {{"a.bin", "sub\x95\\d.txt", "c.bin"}, "", 932},
        {{"a.bin", "b\\\x81\x7F", "c.bin"}, undefined, 932},
        // Bytes a code page leaves undefined: Windows names cp1252's 0x81 and 0x8D U+0081 and U+008D, two files.
        {{"a.bin", "b\\x\x81", "b\\x\x8D"}, "", 1252},
        {{"a.bin", "b\\b.txt", "c\xAA"}, undefined, 1253},
        // Lengths under C:\\x\\ (5 characters): a path of 259 fits, 260 does not; a part takes 255 UTF-8 bytes.
        {{"a.bin", "b\\b.txt", std::string(254, 'c')}, "", 1252, "C:\\x"},
        {{"a.bin", "b\\b.txt", std::string(255, 'c')}, too_long, 1252, "C:/x/"},
        {{"a.bin", "b\\b.txt", euros86}, "takes 86 UTF-16 characters and 258 UTF-8 bytes|\"Cannot create file:\"", 1252, "C:\\x"}};
    for (const auto& [names, expected, codepage, folder] : cases) {
        const std::string what = names[0] + "|" + names[1] + "|" + names[2] + " in " + std::to_string(codepage);
        WriteFile(scratch_ / "named.exe", WithNames(names));
        const TestOutcome outcome = TestInstaller(scratch_ / "named.exe", Codepage(codepage), ProgressStyle::None, {}, folder);
        EXPECT_EQ(outcome.passed, expected.empty()) << what << ": " << outcome.message;
        ExpectParts(outcome.message, expected, what);
        if (folder)
            continue;
        const fs::path out = scratch_ / "named-out";
        fs::remove_all(out);
        std::string refusal;
        try {
            ExtractInstaller(scratch_ / "named.exe", out, Codepage(codepage));
        } catch (const std::exception& error) {
            refusal = error.what();
        }
        EXPECT_EQ(refusal.empty(), expected.empty()) << what << ": " << refusal;
        EXPECT_TRUE(expected.empty() || !fs::exists(out)) << what;
    }
}

// `build` records the write time as the access time too; an installer whose three times differ shows a swap.
TEST_F(DamagedInstaller, ExtractGivesEachFileTheAccessAndWriteTimeOfItsOwnRecord)
{
    std::vector<FileRecord> records = image_.records;
    for (std::size_t i = 0; i < records.size(); ++i)
        records[i].creation_time = FiletimeFromUnix(1100000000 + i, 1100), records[i].access_time = FiletimeFromUnix(1200000000 + i, 2200),
        records[i].write_time = FiletimeFromUnix(1300000000 + i, 3300);
    WriteFile(scratch_ / "times.exe", WithRecords(records));
    const fs::path out = scratch_ / "times-out";
    fs::remove_all(out);
    ASSERT_EQ(ExtractInstaller(scratch_ / "times.exe", out, Codepage(1252)), records.size());
    for (std::size_t i = 0; i < records.size(); ++i) {
        struct stat status {};
        ASSERT_EQ(stat((out / std::regex_replace(records[i].name, std::regex("\\\\"), "/")).c_str(), &status), 0) << records[i].name;
        EXPECT_EQ(std::make_tuple(status.st_atim.tv_sec, status.st_atim.tv_nsec, status.st_mtim.tv_sec, status.st_mtim.tv_nsec),
                  std::make_tuple(1200000000 + static_cast<long>(i), 2200L, 1300000000 + static_cast<long>(i), 3300L)) << records[i].name;
    }
}

TEST_F(DamagedInstaller, ExtractStaysInsideItsFolderKeepsExistingFilesAndRemovesDamagedOnes)
{
    Bytes damaged = good_;
    damaged[payload_ + 12 + 33 + image_.records[0].name.size()] ^= 0x01;   // b\b.txt fails its CRC
    const fs::path out = scratch_ / "x-out", elsewhere = scratch_ / "elsewhere";
    const auto unchanged = [&] { EXPECT_TRUE(fs::is_empty(elsewhere)); EXPECT_FALSE(fs::exists(out / "a.bin")); };
    struct Row { const char* name; Bytes installer; std::function<void()> prepare; bool overwrite; std::string error; std::function<void()> check; };
    const Row rows[] = {
        {"ExistingFileStopsEverything", good_, [&] { WriteFile(out / "c.bin", "old"); }, false, "c.bin' already exists; --overwrite replaces",
         [&] { unchanged(); EXPECT_EQ(ReadFile(out / "c.bin"), Bytes({'o', 'l', 'd'})); }},
        {"OverwriteReplaces", good_, [&] { WriteFile(out / "c.bin", "old"); }, true, "", [&] { EXPECT_EQ(ReadFile(out / "c.bin"), kContents[2]); }},
        {"LinkedFolderIsNotEntered", good_, [&] { fs::create_directory_symlink(elsewhere, out / "b"); }, true, "/b' is a symbolic link", unchanged},
        {"LinkedFileIsNotWrittenThrough", good_, [&] { fs::create_symlink(elsewhere / "victim", out / "c.bin"); }, true, "c.bin' is a symbolic link",
         unchanged},
        {"DamagedFileIsRemoved", damaged, nullptr, false, "fails its CRC check|b.txt' was removed",
         [&] { EXPECT_EQ(ReadFile(out / "a.bin"), kContents[0]); EXPECT_FALSE(fs::exists(out / "b/b.txt")); }},
        {"FileCutShortIsRemoved", Cut(stream_ + 3000), nullptr, false, "' was removed", [&] {
             for (int i = 0; i < 3; ++i) {
                 const fs::path path = out / (i == 0 ? "a.bin" : i == 1 ? "b/b.txt" : "c.bin");
                 EXPECT_TRUE(!fs::exists(path) || ReadFile(path) == kContents[i]) << path;
             } }}};
    for (const Row& row : rows) {
        fs::remove_all(out);
        fs::remove_all(elsewhere);
        fs::create_directories(out);
        fs::create_directories(elsewhere);
        if (row.prepare)
            row.prepare();
        WriteFile(scratch_ / "x.exe", row.installer);
        std::string error;
        try {
            ExtractInstaller(scratch_ / "x.exe", out, Codepage(1252), row.overwrite);
        } catch (const std::exception& failure) {
            error = failure.what();
        }
        EXPECT_EQ(error.empty(), row.error.empty()) << row.name << ": " << error;
        ExpectParts(error, row.error, row.name);
        row.check();
    }
}

TEST_F(DamagedInstaller, ListEscapesControlCharactersAndPrintsLateYearsWhole)
{
    InstallerImage image = image_;
    image.records[0].name = "a\x1B]0;owned\x07.bin";
    WriteSlot(image.config.Title, "T\x1B[2J\x9B");
    image.records[1].write_time = 0x7FFFFFFFFFFFFFFF;
    for (const bool json : {false, true}) {
        const std::string listing = DescribeInstaller(image, Codepage(1252), json);
        EXPECT_EQ(listing.find_first_of("\x1B\x07"), std::string::npos) << listing;
        EXPECT_NE(listing.find("30828-09-14 02:48:05"), std::string::npos) << listing;
    }
    const std::string text = DescribeInstaller(image, Codepage(1252), false);
    EXPECT_NE(text.find("a\\x1B]0;owned\\x07.bin"), std::string::npos) << text;
    EXPECT_NE(text.find("'T\\x1B[2J\xE2\x80\xBA'"), std::string::npos) << text;   // 0x9B is a printable quote in 1252
}

struct SinkCase {   // FILES: contents in table order; STREAM: what the stream decodes to
    const char* name; std::vector<std::string> files; std::string stream; std::uint32_t total_size, bytes_remaining; bool success;
    std::size_t files_reached; std::optional<std::size_t> damaged_file;
    std::optional<std::size_t> wrong_crc = {};   // a record whose stored CRC is not its contents'
};
void PrintTo(const SinkCase& c, std::ostream* out) { *out << c.name; }
class ExtractionRules : public ::testing::TestWithParam<SinkCase> {};
TEST_P(ExtractionRules, FollowTheInstallersSink)
{
    const SinkCase& c = GetParam();
    BuildCrcTable();
    InstallerImage image;
    for (const std::string& contents : c.files) {
        const auto size = static_cast<std::uint32_t>(contents.size());
        image.records.push_back({UpdateCrc(CrcInitial, reinterpret_cast<const unsigned char*>(contents.data()), size), size, 0, 0, 0,
                                 "f" + std::to_string(image.records.size())});
    }
    if (c.wrong_crc)
        image.records[*c.wrong_crc].crc_value ^= 1;
    image.header = {static_cast<std::uint32_t>(image.records.size()), c.total_size};
    const Bytes stream = EncodeBuffer(reinterpret_cast<const std::uint8_t*>(c.stream.data()), c.stream.size(), 1);
    CollectingOutput output;
    const PayloadVerdict verdict = RunPayloadInMemory(image, stream.data(), stream.size(), &output, nullptr);
    EXPECT_EQ(std::make_tuple(verdict.success, verdict.files_reached, output.files.size(), verdict.bytes_remaining, verdict.damaged_file),
              std::make_tuple(c.success, c.files_reached, c.files_reached, c.bytes_remaining, c.damaged_file));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ExtractionRules,
    ::testing::Values(SinkCase{"EmptyFileBetweenTwoIsReached", {"abc", "", "de"}, "abcde", 5, 0, true, 3, {}},
                      // Empty files behind the stream's last byte are swept up and checked at the end.
                      SinkCase{"EmptyFilesAfterTheLastByteAreSwept", {"abc", "", ""}, "abc", 3, 0, true, 3, {}},
                      SinkCase{"NothingToDecodeSweepsEveryFile", {"", ""}, "", 0, 0, true, 2, {}},
                      SinkCase{"SweptFileWithAWrongCrcFails", {"abc", "", ""}, "abc", 3, 0, false, 2, 1, 1},
                      SinkCase{"SweepStopsAtAFileWithBytes", {"abc", "", "d"}, "abc", 3, 0, false, 2, {}},
                      SinkCase{"BytesBeyondTheLastRecordAreDropped", {"abc"}, "abcxyz", 6, 3, false, 1, {}},
                      SinkCase{"ShortTotalLeavesTheLastFileShort", {"abc", "defg"}, "abcdefg", 5, 0, false, 2, 1},
                      // The CRC is compared when the sink moves on, and a failure ends the run.
                      SinkCase{"FailureStopsBeforeTheNextFile", {"abc", "def"}, "abXdef", 6, 3, false, 1, 0},
                      SinkCase{"LastFileIsCheckedAtTheEnd", {"abc", "def", "ghi"}, "abcdefghX", 9, 0, false, 3, 2}),
    [](const ::testing::TestParamInfo<SinkCase>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace stubkit
