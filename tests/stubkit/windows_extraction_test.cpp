// The packer's output read by the Windows side's own extraction code: the
// extract-probe program carries the configuration record like the stub, so
// `build --stub extract-probe.exe` makes an installer whose reader, decoder
// and sink are the installer's. Run under Wine, it must give back the
// product with its times. Skipped when the Windows tree has no probe.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdlib>

#include "stubkit/file_times.h"
#include "stubkit/operations.h"
#include "test_support.h"

namespace stubkit {
namespace {
namespace fs = std::filesystem;

using testing::ConfigText;
using testing::NoiseBytes;
using testing::ReadFile;
using testing::ScratchFolder;
using testing::WriteFile;

fs::path ProbePath()
{
    return fs::path(STUBKIT_WIN32_DIR) / "tests" / "extract" / "extract-probe.exe";
}

std::string WindowsPathOf(const fs::path& path)
{
    std::string text = "Z:" + path.string();
    std::replace(text.begin(), text.end(), '/', '\\');
    return text;
}

// A failing extraction shows a message box that nobody closes: the time
// limit turns that into a failed run instead of a hang.
int RunUnderWine(const fs::path& program, const std::string& argument)
{
    const std::string command = "timeout 120 '" STUBKIT_SOURCE_DIR "/cmake/wine-run' --wine-dir '" STUBKIT_WIN32_DIR
                                "/wine' '" + program.string() + "' '" + argument + "' >/dev/null 2>&1";
    const int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(WindowsExtraction, InstallersOwnReaderGivesBackTheProductWithItsTimes)
{
    if (!fs::exists(ProbePath()))
        GTEST_SKIP() << "no extract-probe.exe in " << STUBKIT_WIN32_DIR;
    ScratchFolder scratch;
    const std::vector<std::pair<std::string, std::vector<std::uint8_t>>> files = {
        {"empty.txt", {}},
        {"bin/tool one.exe", NoiseBytes(50000, 11)},
        {"docs/deep folder/notes caf\xC3\xA9.txt", std::vector<std::uint8_t>(120000, 'n')},
    };
    for (const auto& [name, contents] : files)
        WriteFile(scratch / "product" / fs::u8path(name), contents);
    WriteFile(scratch / "product.toml", ConfigText("product"));
    BuildOptions options;
    options.config = scratch / "product.toml";
    options.output = scratch / "probe-setup.exe";
    options.stub = ProbePath();
    options.level = 5;
    BuildInstaller(options, [](const std::string&) {});

    fs::create_directories(scratch / "out");
    ASSERT_EQ(RunUnderWine(options.output, WindowsPathOf(scratch / "out")), 0);
    for (const auto& [name, contents] : files) {
        const fs::path source = scratch / "product" / fs::u8path(name);
        const fs::path installed = scratch / "out" / fs::u8path(name);
        EXPECT_EQ(ReadFileTimes(installed).write, ReadFileTimes(source).write) << name;
        EXPECT_EQ(ReadFile(installed), contents) << name;
    }
}

}  // namespace
}  // namespace stubkit
