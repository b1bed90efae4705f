// The tool's command line as a release pipeline drives it: one table of shell
// lines with what they must print and their exit status (streams through pipes,
// a FIFO and a device node made here, -D and the environment, every problem of a
// config at once, output folders, letter case in patterns, -q and -v), and the
// JSON documents against the key list the manual page is written from.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <nlohmann/json.hpp>

#include "stubkit/commands/json_output.h"
#include "test_support.h"

namespace stubkit {
namespace {
using namespace testing;

struct Line {
    std::string script;                  // sh; $T is the tool, $D the scratch folder
    std::vector<std::string> expected;   // in the output (stdout and stderr); a leading '!' must not be
    int status;
};

class CommandLine : public ::testing::Test {
protected:
    void SetUp() override
    {
        WriteFile(scratch_ / "prod/a.txt", "alpha\n");
        WriteFile(scratch_ / "prod/Docs/Read.TXT", "read me\n");
        WriteFile(scratch_ / "prod/b.bin", NoiseBytes(3000, 1));
        WriteFile(scratch_ / "in.bin", NoiseBytes(70000, 2));
        WriteFile(scratch_ / "product.toml", "title = \"${STUBKIT_TEST_VENDOR} Vellum ${VERSION}\"\n"
                                             "source = \"prod\"\n"
                                             "default_folder = \"Vellum $$1\"\n");
        // Four problems on three lines, and one without a line: all reported in one run.
        WriteFile(scratch_ / "bad.toml", "titel = \"x\"\nsource = \"prod\"\ncolour = 1\n"
                                         "[[desktop]]\nlink = \"a.lnk\"\ntarget = \"../x.exe\"\n");
        ASSERT_EQ(mkfifo((scratch_ / "fifo").c_str(), 0600), 0);
        // The null device's numbers, as a node of this folder (root only).
        device_ = mknod((scratch_ / "null").c_str(), S_IFCHR | 0600, makedev(1, 3)) == 0;
        ASSERT_EQ(Run("STUBKIT_TEST_VENDOR=Acme $T build -q -1 -D VERSION=2 $D/product.toml -o $D/setup.exe").first, 0);
    }

    std::pair<int, std::string> Run(const std::string& script) const
    {
        WriteFile(scratch_ / "line.sh", "T='" STUBKIT_TOOL "'\nD='" + scratch_.path.string() + "'\n" + script + "\n");
        return RunCommand("sh '" + (scratch_ / "line.sh").string() + "'");
    }

    ScratchFolder scratch_;
    bool device_ = false;
};

TEST_F(CommandLine, LinesOfAReleasePipelinePrintWhatTheyShouldAndExitAsTheySay)
{
    const std::string in_size = std::to_string(70000);
    std::vector<Line> lines = {
        // Streams: '-' is standard input and output; a FIFO is written into, never replaced.
        {"printf hello | $T encode -1 - - | $T decode --total 5 - -", {"hello"}, 0},
        {"cat $D/fifo > $D/from-fifo & $T encode -3 $D/in.bin $D/fifo; s=$?; wait\n"
         "test -p $D/fifo && $T decode --total " + in_size + " $D/from-fifo - | cmp - $D/in.bin && echo same; exit $s",
         {"same"}, 0},
        {"cat $D/setup.exe | $T list -q -", {"Docs\\Read.TXT\na.txt\nb.bin\n"}, 0},
        {"cat $D/setup.exe | $T test -", {"-: OK, 3 files, "}, 0},
        {"printf 'no installer' | $T test -", {"'-' is not an installer", "!stdin-"}, 1},
        {"$T encode -v $D/in.bin - | $T decode -v --total " + in_size + " - $D/out.bin && cmp $D/out.bin $D/in.bin",
         {"stubkit encode: " + scratch_.path.string() + "/in.bin: 70000 bytes -> ", "stubkit decode: (standard input): 70000 bytes written"}, 0},
        // Variables: -D first, then the environment; "$$" is a '$'; list shows the values the installer holds.
        {"STUBKIT_TEST_VENDOR=Acme $T list $D/setup.exe", {"Title            'Acme Vellum 2'", "DefaultFolder    'Vellum $1'"}, 0},
        {"STUBKIT_TEST_VENDOR=Acme $T build -q -D VERSION=2.1.3 -D STUBKIT_TEST_VENDOR=Korvan $D/product.toml -o $D/v/ && "
         "$T list $D/v/product-setup.exe", {"Title            'Korvan Vellum 2.1.3'"}, 0},
        {"env -u STUBKIT_TEST_VENDOR $T build $D/product.toml -o $D/x.exe",
         {"/product.toml:1: title: undefined variable 'STUBKIT_TEST_VENDOR'; give it with -D STUBKIT_TEST_VENDOR=VALUE",
          "/product.toml:1: title: undefined variable 'VERSION'", "!default_folder", "2 problems in '"}, 1},
        // Every problem at once, each with its file and line.
        {"$T build $D/bad.toml -o $D/x.exe",
         {"/bad.toml:1: unknown key 'titel' (did you mean 'title'?)", "/bad.toml:3: unknown key 'colour'\n",
          "/bad.toml: title: missing", "/bad.toml:6: desktop[0].target: '..\\x.exe': '..' climbs to the folder above",
          "4 problems in '", "!must not be empty"}, 1},
        // An output folder, given as such or existing, gets the default name; extract never writes to '-'.
        {"mkdir $D/out && $T build -q $D/product.toml -D VERSION=1 -D STUBKIT_TEST_VENDOR=A -o $D/out && ls $D/out", {"product-setup.exe"}, 0},
        {"$T build -D VERSION=1 -D STUBKIT_TEST_VENDOR=A $D/product.toml -o -", {"stubkit build: --output: '-': an installer is written to a file"}, 2},
        // Patterns ignore letter case as Windows names do, unless asked; plurals are right.
        {"$T extract $D/setup.exe $D/e1 'docs/*.txt' && ls $D/e1/Docs", {"extracted 1 file into", "Read.TXT"}, 0},
        {"$T extract --case-sensitive $D/setup.exe $D/e2 'docs/*.txt'", {"'docs/*.txt' matches no file"}, 1},
        {"$T extract -v $D/setup.exe $D/e3 '[^a]*'", {"Docs\\Read.TXT\nb.bin\n", "!a.txt", "extracted 2 files"}, 0},
        {"$T test -v $D/setup.exe", {"  ok        Docs\\Read.TXT\n", "OK, 3 files"}, 0},
        {"$T list -q -v $D/setup.exe", {"stubkit list: --quiet excludes --verbose"}, 2}};
    if (device_)
        lines.push_back({"$T encode -1 $D/in.bin $D/null && test -c $D/null && echo kept", {"kept"}, 0});
    for (const Line& line : lines) {
        const auto [status, output] = Run(line.script);
        EXPECT_EQ(status, line.status) << line.script << "\n" << output;
        for (const std::string& text : line.expected) {
            const bool absent = text[0] == '!';
            EXPECT_EQ(output.find(text.substr(absent)) == std::string::npos, absent) << text << " in:\n" << line.script << "\n" << output;
        }
    }
    EXPECT_TRUE(fs::is_fifo(scratch_ / "fifo") && !fs::exists(scratch_ / "x.exe") && !fs::exists(scratch_ / "e2"));
}

// The keys of each object in the order they come out, "files[]" for a file's.
void CollectKeys(const nlohmann::ordered_json& object, const std::string& name, std::vector<std::string>& keys)
{
    for (const auto& [key, value] : object.items()) {
        keys.push_back(name.empty() ? key : name + "." + key);
        if (value.is_object())
            CollectKeys(value, key, keys);
        if (key == "files" && !value.empty())
            CollectKeys(value.front(), "files[]", keys);
    }
}

TEST_F(CommandLine, JsonDocumentsHoldTheDocumentedKeysInTheDocumentedOrder)
{
    ThrowawayKey key(scratch_ / "key");
    ASSERT_EQ(Run("$T build -q -1 -D VERSION=2 -D STUBKIT_TEST_VENDOR=A $D/product.toml -o $D/signed.exe --sign-cert '" +
                  key.certificate.string() + "' --sign-key '" + key.key.string() + "'").first, 0);
    for (const std::string command : {"list", "test"}) {
        std::vector<std::string> documented;
        for (const JsonKey& entry : JsonKeys(command))
            documented.push_back(std::string(entry.object).empty() ? entry.name : std::string(entry.object) + "." + entry.name);
        // Documented shortcut rows are objects of their own; a shortcut-free product shows none of their keys.
        const auto [status, output] = Run("$T " + command + " --json $D/signed.exe 2>$D/stderr");
        const nlohmann::ordered_json document = nlohmann::ordered_json::parse(output, nullptr, false);
        ASSERT_FALSE(document.is_discarded()) << output;
        std::vector<std::string> keys;
        CollectKeys(document, "", keys);
        EXPECT_EQ(keys, documented) << command;
        EXPECT_EQ(document.begin().key(), "format");
        EXPECT_EQ(document["format"], kJsonFormat);
    }
}

}  // namespace
}  // namespace stubkit
