#include "stubkit/commands/command_line.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <thread>
#include <vector>

#include "stubkit/encoder/encoder.h"
#include "stubkit/container/installer_file.h"
#include "stubkit/container/printable_text.h"
#include "stubkit/files/file_io.h"

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

CLI::Validator RegularFile(bool standard_input)
{
    // No description: the help shows the value's own name, not the check's.
    return CLI::Validator(
        [standard_input](std::string& path) {
            if (standard_input && path == kStandardStreamName)
                return std::string();
            const std::string problem = NonRegularFileProblem(std::filesystem::u8path(path));
            if (!problem.empty())
                PendingInputFileProblems().push_back(problem);
            return std::string();
        },
        "", "RegularFile");
}

CLI::Option* AddPathOption(CLI::App& command, const std::string& name, std::filesystem::path& path,
                           const std::string& description, const std::string& value_name)
{
    return command
        .add_option_function<std::string>(
            name, [&path](const std::string& text) { path = std::filesystem::u8path(text); }, description)
        ->type_name(name.find('-') == 0 ? value_name : "");
}

void AddVerbosityFlags(CLI::App& command, Verbosity& verbosity, const std::string& quiet_description,
                       const std::string& verbose_description)
{
    CLI::Option* quiet = command.add_flag("-q,--quiet", verbosity.quiet, quiet_description);
    command.add_flag("-v,--verbose", verbosity.verbose, verbose_description)->excludes(quiet);
}

namespace {

// The parser's sentences in the words of the tools around it.
std::string UsageProblem(const CLI::ParseError& error)
{
    std::string text = error.what();
    const std::string required = " is required";
    if (error.get_name() == "RequiredError" && text.size() > required.size() &&
        text.compare(text.size() - required.size(), required.size(), required) == 0)
        return "missing " + text.substr(0, text.size() - required.size());
    const std::string extras = "The following argument was not expected: ";
    const std::string extras_plural = "The following arguments were not expected: ";
    for (const std::string& lead : {extras, extras_plural})
        if (text.rfind(lead, 0) == 0) {
            const std::string rest = text.substr(lead.size());
            return (rest.rfind('-', 0) == 0 && rest.size() > 1 ? "unknown option " : "unexpected argument ") +
                   Quoted(rest);
        }
    // A sentence's first word in lower case, as a continuation; a name (DIR) stays.
    if (text.size() > 1 && std::islower(static_cast<unsigned char>(text[1])))
        text[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(text[0])));
    return text;
}

}  // namespace

int ReportParseError(const CLI::App& app, const CLI::ParseError& error)
{
    const std::string kind = error.get_name();
    if (kind == "CallForHelp" || kind == "CallForAllHelp" || kind == "CallForVersion" || kind == "Success")
        return app.exit(error) == 0 ? kExitSuccess : kExitUsage;
    std::string command = "stubkit";
    for (const CLI::App* sub : app.get_subcommands())
        command += " " + sub->get_name();
    std::string problem = UsageProblem(error);
    if (command == "stubkit" && kind == "RequiredError") {
        std::string known;
        for (const CLI::App* sub : app.get_subcommands([](const CLI::App*) { return true; }))
            known += (known.empty() ? "" : ", ") + sub->get_name();
        problem = "no command given; the commands are " + known;
    }
    std::fprintf(stderr, "%s: %s\nTry '%s --help' for more information.\n", command.c_str(), problem.c_str(),
                 command.c_str());
    return kExitUsage;
}

void AddCodepageOption(CLI::App& command, int& codepage, const std::string& description)
{
    command.add_option("--codepage", codepage, description)
        ->check(CLI::Validator([](std::string& text) { return CodepageArgumentProblem(text); }, "", "AnsiCodepage"))
        ->type_name("N");
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
                              const std::string& setup_description, bool standard_input)
{
    AddPathOption(command, "SETUP", options.setup, setup_description)->required()->check(RegularFile(standard_input));
    AddPathOption(command, "--stub", options.stub,
                  "The stub the installer was built with, when not the one this stubkit carries")
        ->check(RegularFile());
    AddCodepageOption(command, options.codepage, "ANSI code page the names are in (default 1252)");
}

}  // namespace stubkit
