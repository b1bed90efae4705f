// Every check of `build`: a config or product folder breaking one rule is
// rejected with a message naming the field or file, and nothing is written;
// the same input just inside the limit passes. Warnings do not fail a build.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstring>
#include <functional>

#include "stubkit/operations.h"
#include "stubkit/pack_plan.h"
#include "stubkit/product_config.h"
#include "test_support.h"

namespace stubkit {
namespace {
namespace fs = std::filesystem;

using testing::ConfigText;
using testing::ReadFile;
using testing::RealStubPath;
using testing::ScratchFolder;
using testing::WriteFile;

using Setup = std::function<void(const fs::path& product, const fs::path& scratch)>;

struct ValidationCase {
    std::string name;
    std::string config;        // whole config text; "prod" is the product folder
    Setup setup;               // extra files; the folder always has readme.txt
    std::string expected;      // part of the error; empty: the build succeeds
    int codepage = kDefaultCodepage;
    // Makes the stub to use from the real one; null: the built-in stub.
    std::function<std::vector<std::uint8_t>(std::vector<std::uint8_t>)> stub = nullptr;
};

void PrintTo(const ValidationCase& c, std::ostream* out)
{
    *out << c.name;
}

std::string Repeat(char c, std::size_t count)
{
    return std::string(count, c);
}

std::string Rows(const std::string& table, int count, const std::string& link_prefix = "Link ")
{
    std::string text;
    for (int i = 0; i < count; ++i)
        text += "[[" + table + "]]\nlink = \"" + link_prefix + std::to_string(i) + ".lnk\"\ntarget = \"readme.txt\"\n";
    return text;
}

std::string Config(const std::string& extra, const std::string& title = "Test Product")
{
    return ConfigText("prod", extra, title);
}

Setup AddFile(const std::string& relative, const std::string& contents = "x")
{
    return [=](const fs::path& product, const fs::path&) { WriteFile(product / fs::u8path(relative), contents); };
}

Setup AddSparseFiles(int count, std::uint64_t size)
{
    return [=](const fs::path& product, const fs::path&) {
        for (int i = 0; i < count; ++i) {
            const fs::path path = product / ("big" + std::to_string(i) + ".bin");
            WriteFile(path, "");
            fs::resize_file(path, size);
        }
    };
}

Setup AddManyFiles(int count, std::size_t name_length)
{
    return [=](const fs::path& product, const fs::path&) {
        for (int i = 0; i < count; ++i) {
            std::string name = std::to_string(i);
            WriteFile(product / (name + Repeat('n', name_length - name.size())), "");
        }
    };
}

class BuildValidation : public ::testing::TestWithParam<ValidationCase> {};

TEST_P(BuildValidation, RejectsNamingTheFieldOrWritesTheInstaller)
{
    const ValidationCase& c = GetParam();
    ScratchFolder scratch;
    const fs::path product = scratch / "prod";
    WriteFile(product / "readme.txt", "Read me.\n");
    if (c.setup)
        c.setup(product, scratch.Path());
    WriteFile(scratch / "product.toml", c.config);
    BuildOptions options;
    options.config = scratch / "product.toml";
    options.output = scratch / "setup.exe";
    options.codepage = c.codepage;
    options.level = 1;
    if (c.stub) {
        WriteFile(scratch / "other-stub.exe", c.stub(ReadFile(RealStubPath())));
        options.stub = scratch / "other-stub.exe";
    }
    std::string message;
    try {
        BuildInstaller(options, [](const std::string&) {});
    } catch (const std::exception& error) {
        message = error.what();
    }
    if (c.expected.empty()) {
        EXPECT_EQ(message, "");
        EXPECT_TRUE(fs::exists(options.output));
    } else {
        EXPECT_NE(message.find(c.expected), std::string::npos) << "message: " << message;
        EXPECT_FALSE(fs::exists(options.output));
        EXPECT_FALSE(fs::exists(options.output.string() + ".partial"));
    }
}

const std::string k259 = Repeat('f', 259);
const std::string k260 = Repeat('f', 260);

INSTANTIATE_TEST_SUITE_P(
    Rules, BuildValidation,
    ::testing::Values(
        ValidationCase{"TitleOf207Fits", Config("", Repeat('t', 207)), nullptr, ""},
        ValidationCase{"TitleOver207", Config("", Repeat('t', 208)), nullptr, "title: 208 characters"},
        ValidationCase{"EmptyTitle", Config("", ""), nullptr, "title: must not be empty"},
        ValidationCase{"TitleWithBackslash", Config("default_folder = \"k\"\nprogram_group = \"k\"", "a\\\\b"),
                       nullptr, "title: must not contain a backslash"},
        ValidationCase{"DefaultFolderOf259Fits", Config("default_folder = \"" + k259 + "\""), nullptr, ""},
        ValidationCase{"DefaultFolderOver259", Config("default_folder = \"" + k260 + "\""), nullptr,
                       "default_folder: 260 characters"},
        ValidationCase{"ProgramGroupOver259", Config("program_group = \"" + k260 + "\""), nullptr,
                       "program_group: 260 characters"},
        ValidationCase{"RunAfterOver259", Config("run_after_install = \"" + k260 + "\""), nullptr,
                       "run_after_install: 260 characters"},
        ValidationCase{"LinkOver259", Config("[[desktop]]\nlink = \"" + k260 + "\"\ntarget = \"a\""), nullptr,
                       "desktop[0].link: 260 characters"},
        ValidationCase{"TargetOver259", Config("[[desktop]]\nlink = \"a.lnk\"\ntarget = \"" + k260 + "\""),
                       nullptr, "desktop[0].target: 260 characters"},
        ValidationCase{"GroupAndLinkOf259Fit",
                       Config("program_group = \"" + Repeat('g', 200) + "\"\n[[start_menu]]\nlink = \"" +
                              Repeat('l', 58) + "\"\ntarget = \"readme.txt\""),
                       nullptr, ""},
        ValidationCase{"GroupAndLinkOver259",
                       Config("program_group = \"" + Repeat('g', 200) + "\"\n[[start_menu]]\nlink = \"" +
                              Repeat('l', 59) + "\"\ntarget = \"readme.txt\""),
                       nullptr, "start_menu[0].link: program_group, a backslash and the link take 260"},
        ValidationCase{"SixteenRowsFit", Config(Rows("start_menu", 16) + Rows("desktop", 16)), nullptr, ""},
        ValidationCase{"SeventeenRows", Config(Rows("desktop", 17)), nullptr, "desktop: 17 shortcuts"},
        ValidationCase{"EmptyLink", Config("[[start_menu]]\nlink = \"\"\ntarget = \"readme.txt\""), nullptr,
                       "start_menu[0].link: must not be empty"},
        ValidationCase{"LinkWithFolder", Config("[[desktop]]\nlink = \"sub\\\\x.lnk\"\ntarget = \"readme.txt\""),
                       nullptr, "desktop[0].link: 'sub\\x.lnk' must be a plain file name"},
        ValidationCase{"TitleOutsideCodepage", Config("", "\xD0\x96" "ar"), nullptr, "title: '\xD0\x96" "ar' has characters"},
        ValidationCase{"TitleInsideOtherCodepage", Config("", "\xD0\x96" "ar"), nullptr, "", 1251},
        ValidationCase{"FileNameOutsideCodepage", Config(""), AddFile("\xD0\x96.txt"), "file '\xD0\x96.txt'"},
        ValidationCase{"DoubleByteNameWithBackslashByte", Config(""), AddFile("\xE3\x82\xBD.txt"),
                       "contains a backslash byte", 932},
        ValidationCase{"DoubleByteLinkWithBackslashByte",
                       Config("[[desktop]]\nlink = \"\xE3\x82\xBD.lnk\"\ntarget = \"readme.txt\""), nullptr,
                       "desktop[0].link: '\xE3\x82\xBD.lnk' has a character whose code page 932", 932},
        ValidationCase{"NameOf255BytesFits", Config(""), AddFile(Repeat('a', 200) + "/" + Repeat('b', 54)), ""},
        ValidationCase{"NameOver255Bytes", Config(""), AddFile(Repeat('a', 200) + "/" + Repeat('b', 55)),
                       "the name takes 256 bytes"},
        ValidationCase{"FileTableOver131072", Config(""), AddManyFiles(570, 200), "file table takes"},
        ValidationCase{"StubOver131072", Config(""), nullptr, "bytes; the installer reads at most 131072",
                       kDefaultCodepage,
                       [](std::vector<std::uint8_t> stub) {
                           stub.resize(kStubSizeLimit + 1, 0);
                           return stub;
                       }},
        ValidationCase{"StubWithoutRecord", Config(""), nullptr, "no configuration record found", kDefaultCodepage,
                       [](std::vector<std::uint8_t> stub) {
                           stub.resize(0x400);
                           return stub;
                       }},
        ValidationCase{"StubAlreadyConfigured", Config(""), nullptr, "already configured (StubSize is 123)",
                       kDefaultCodepage,
                       [](std::vector<std::uint8_t> stub) {
                           const std::size_t record = *FindConfigRecord(stub);
                           std::memcpy(&stub[record], "123", 4);
                           return stub;
                       }},
        ValidationCase{"FileOf2To31Bytes", Config(""), AddSparseFiles(1, std::uint64_t{1} << 31),
                       "file 'big0.bin': 2147483648 bytes"},
        ValidationCase{"TotalOf2To32Bytes", Config(""), AddSparseFiles(3, (std::uint64_t{1} << 31) - 1),
                       "; the installer takes less than 2^32"},
        ValidationCase{"ReservedDeviceName", Config(""), AddFile("sub/Aux.txt"), "'Aux.txt' is a reserved device name"},
        ValidationCase{"TrailingDotFolder", Config(""), AddFile("dir./x.txt"), "'dir.' ends in a dot"},
        ValidationCase{"TrailingBlank", Config(""), AddFile("x.txt "), "'x.txt ' ends in a dot or a blank"},
        ValidationCase{"ForbiddenCharacter", Config(""), AddFile("what?.txt"), "contains the character '?'"},
        ValidationCase{"NamesEqualButForCase", Config(""), AddFile("README.TXT"), "but for letter case"},
        ValidationCase{"UnknownKey", Config("colour = \"blue\""), nullptr, "product.toml:3: unknown key 'colour'"},
        ValidationCase{"UnknownRowKey", Config("[[desktop]]\nlink = \"a.lnk\"\ntarget = \"a\"\nicon = \"x\""),
                       nullptr, "unknown key 'icon' in [[desktop]] row 0"},
        ValidationCase{"WrongType", Config("program_group = 5"), nullptr, "'program_group' must be a text"},
        ValidationCase{"MissingTarget", Config("[[desktop]]\nlink = \"a.lnk\""), nullptr,
                       "'desktop[0].target' is missing"},
        ValidationCase{"MissingSource", "title = \"x\"\n", nullptr, "'source' is missing"},
        ValidationCase{"SourceIsNoFolder", ConfigText("nowhere"), nullptr, "does not exist or is not a folder"},
        ValidationCase{"BrokenToml", Config("title2 = "), nullptr, "product.toml:3"}),
    [](const ::testing::TestParamInfo<ValidationCase>& info) { return info.param.name; });

TEST(BuildValidation, ReportsEveryProblemAtOnce)
{
    ScratchFolder scratch;
    WriteFile(scratch / "prod" / "con", "");
    WriteFile(scratch / "product.toml", Config("[[desktop]]\nlink = \"\"\ntarget = \"\"", Repeat('t', 300)));
    BuildOptions options;
    options.config = scratch / "product.toml";
    options.output = scratch / "setup.exe";
    try {
        BuildInstaller(options, [](const std::string&) {});
        FAIL() << "accepted";
    } catch (const ValidationError& error) {
        // The title, the two fields that default to it, the link, the name.
        EXPECT_EQ(error.Problems().size(), 5u) << error.what();
    }
}

struct WarningCase {
    std::string name;
    std::string extra;
    Setup setup;
    std::string expected;   // part of a warning; empty: no warning at all
};

void PrintTo(const WarningCase& c, std::ostream* out)
{
    *out << c.name;
}

class BuildWarnings : public ::testing::TestWithParam<WarningCase> {};

TEST_P(BuildWarnings, WarnWithoutFailing)
{
    const WarningCase& c = GetParam();
    ScratchFolder scratch;
    WriteFile(scratch / "prod" / "bin" / "app.exe", "MZ");
    if (c.setup)
        c.setup(scratch / "prod", scratch.Path());
    WriteFile(scratch / "product.toml", Config(c.extra));
    BuildOptions options;
    options.config = scratch / "product.toml";
    options.output = scratch / "setup.exe";
    options.level = 1;
    std::vector<std::string> warnings;
    BuildInstaller(options, [&](const std::string& warning) { warnings.push_back(warning); });
    EXPECT_TRUE(fs::exists(options.output));
    if (c.expected.empty()) {
        EXPECT_TRUE(warnings.empty()) << warnings.front();
    } else {
        ASSERT_EQ(warnings.size(), 1u);
        EXPECT_NE(warnings[0].find(c.expected), std::string::npos) << warnings[0];
    }
}

INSTANTIATE_TEST_SUITE_P(
    Rules, BuildWarnings,
    ::testing::Values(
        WarningCase{"TargetsNamingPackedFiles",
                    "run_after_install = \"bin/app.exe /quiet\"\n[[start_menu]]\nlink = \"App.lnk\"\n"
                    "target = \"BIN\\\\App.exe\"\n[[start_menu]]\nlink = \"Uninstall.lnk\"\ntarget = \"davirado.exe\"",
                    nullptr, ""},
        WarningCase{"TargetNamingNothing", "[[desktop]]\nlink = \"App.lnk\"\ntarget = \"bin\\\\ap.exe\"", nullptr,
                    "desktop[0].target: 'bin\\ap.exe' names no packed file"},
        WarningCase{"LinkWithoutLnkExtension", "[[desktop]]\nlink = \"App\"\ntarget = \"bin/app.exe\"", nullptr,
                    "desktop[0].link: 'App' does not end in .lnk"},
        WarningCase{"RunAfterNamingNothing", "run_after_install = \"setup.exe\"", nullptr,
                    "run_after_install: 'setup.exe' names no packed program"},
        WarningCase{"FoldersDifferingInCase", "", AddFile("Bin/readme.txt"),
                    "folders 'Bin' and 'bin' differ only in letter case"},
        WarningCase{"PathTooLongUnderProgramFiles", "default_folder = \"" + Repeat('d', 100) + "\"",
                    AddFile(Repeat('p', 150) + ".txt"), "would exceed 259 characters under 'C:\\Program Files\\"}),
    [](const ::testing::TestParamInfo<WarningCase>& info) { return info.param.name; });

}  // namespace
}  // namespace stubkit
