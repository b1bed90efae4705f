#include "stubkit/commands/command_line.h"

#include <algorithm>
#include <thread>
#include <vector>

#include "stubkit/encoder/encoder.h"
#include "stubkit/container/installer_file.h"

namespace stubkit {
namespace {

std::vector<std::string>& PendingInputFileProblems()
{
    static std::vector<std::string> problems;
    return problems;
}

}  // namespace

void ReportInputFileProblems()
{
    if (!PendingInputFileProblems().empty())
        throw std::runtime_error(PendingInputFileProblems().front());
}

CLI::Validator RegularFile()
{
    return CLI::Validator(
        [](std::string& path) {
            const std::string problem = NonRegularFileProblem(std::filesystem::u8path(path));
            if (!problem.empty())
                PendingInputFileProblems().push_back(problem);
            return std::string();
        },
        "FILE", "RegularFile");
}

CLI::Option* AddPathOption(CLI::App& command, const std::string& name, std::filesystem::path& path,
                           const std::string& description)
{
    return command.add_option_function<std::string>(
        name, [&path](const std::string& text) { path = std::filesystem::u8path(text); }, description);
}

void AddCodepageOption(CLI::App& command, int& codepage, const std::string& description)
{
    command.add_option("--codepage", codepage, description)
        ->check(CLI::Validator([](std::string& text) { return CodepageArgumentProblem(text); }, "CODEPAGE",
                               "AnsiCodepage"));
}

void AddThreadsOption(CLI::App& command, int& threads)
{
    const unsigned hardware = std::thread::hardware_concurrency();
    threads = static_cast<int>(std::clamp<unsigned>(hardware, 1, kMaxThreads));
    command
        .add_option("-T,--threads", threads,
                    "Threads that search for matches at -5 .. -12 (default: the machine's hardware threads); "
                    "the output is the same for every count")
        ->check(CLI::Range(1, kMaxThreads).description(""))
        ->type_name("N");
}

void AddHighLevelFlags(CLI::App& command, const std::function<void(int)>& set_level)
{
    // Hidden: the spellings main() gives -10 .. -12; --ultra stands for them in the help.
    for (int level = kBestLevel + 1; level <= kUltraLevel; ++level)
        command.add_flag_callback("--" + std::to_string(level), [set_level, level] { set_level(level); })->group("");
    command.add_flag_callback("--ultra", [set_level] { set_level(kUltraLevel); },
                              "Compress smallest, same as -12; -10 and -11 lie between -9 and it "
                              "(several times slower than -9)");
}

void SpellHighLevelFlags(int argc, char** argv)
{
    static const std::string kSpelled[] = {"--10", "--11", "--12"};
    static_assert(kUltraLevel - kBestLevel == 3, "one spelling per level past -9");
    for (int i = 1; i < argc && std::string(argv[i]) != "--"; ++i)
        for (int level = kBestLevel + 1; level <= kUltraLevel; ++level)
            if (argv[i] == "-" + std::to_string(level))
                argv[i] = const_cast<char*>(kSpelled[level - kBestLevel - 1].c_str());
}

void AddInstallerInputOptions(CLI::App& command, InstallerInputOptions& options,
                              const std::string& setup_description)
{
    AddPathOption(command, "SETUP", options.setup, setup_description)->required()->check(RegularFile());
    AddPathOption(command, "--stub", options.stub,
                  "The stub the installer was built with, when not the one this stubkit carries")
        ->check(RegularFile());
    AddCodepageOption(command, options.codepage, "ANSI code page the names are in (default 1252)");
    command.add_flag("-q,--quiet", options.quiet, "Print nothing on success, and no progress");
}

}  // namespace stubkit
