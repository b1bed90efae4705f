// stubkit/: the host tool's commands and what only they use: the product's
// TOML config, the pack plan and the packer, progress bars, file times and
// file I/O, the code page, and the stub the tool carries. They may use
// stubkit/encoder, stubkit/container, stubkit/platform, payload/ and
// common/installer_config; none of those folders uses anything here.
// Nothing here tests which host it runs on: what differs is stubkit/platform's.
//
// Subcommands of the stubkit tool. Each lives in its own file and registers
// itself on the application; main() only calls the Add...Command functions.
#ifndef STUBKIT_COMMANDS_H
#define STUBKIT_COMMANDS_H

#include <CLI/CLI.hpp>

#include <functional>

#include "stubkit/codepage.h"
#include "stubkit/container/installer_file.h"
#include "stubkit/platform/platform.h"

namespace stubkit {

// The tool's exit statuses; scripts rely on them.
constexpr int kExitSuccess = 0;
constexpr int kExitFailure = 1;   // the work failed, a missing or unreadable input file included
constexpr int kExitUsage = 2;     // the command line is wrong

// Input files found missing or unreadable while the command line is parsed.
// They are the work's failure, not a usage error, and are reported only once
// the command line as a whole has passed (so --help and usage errors come
// first): main() calls ReportInputFileProblems before any command runs.
inline std::vector<std::string>& PendingInputFileProblems()
{
    static std::vector<std::string> problems;
    return problems;
}

// Throws the first pending problem as a std::runtime_error.
inline void ReportInputFileProblems()
{
    if (!PendingInputFileProblems().empty())
        throw std::runtime_error(PendingInputFileProblems().front());
}

// An existing regular file: checked without opening it, so a FIFO given by
// mistake is refused instead of blocking the tool.
inline CLI::Validator RegularFile()
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

// A path option: arguments are UTF-8 on every host, and a path is made from
// one through u8path (CLI11 would read it in the host's narrow code page).
inline CLI::Option* AddPathOption(CLI::App& command, const std::string& name, std::filesystem::path& path,
                                  const std::string& description)
{
    return command.add_option_function<std::string>(
        name, [&path](const std::string& text) { path = std::filesystem::u8path(text); }, description);
}

// A Windows ANSI code page number.
inline CLI::Validator AnsiCodepage()
{
    return CLI::Validator([](std::string& text) { return CodepageArgumentProblem(text); }, "CODEPAGE", "AnsiCodepage");
}

// -T/--threads N for the commands that compress; the default is the
// machine's hardware threads (at most kMaxThreads).
void AddThreadsOption(CLI::App& command, int& threads);

// -10 .. -12 and --ultra (the same as -12) for the commands that compress.
// CLI11 reads "-12" as "-1 -2", so main() first spells those flags as
// "--12" with SpellHighLevelFlags, which the commands take.
void AddHighLevelFlags(CLI::App& command, const std::function<void(int)>& set_level);
void SpellHighLevelFlags(int argc, char** argv);

// stubkit encode [-1..-12] [-T N] IN OUT: the raw compressed stream of IN's bytes.
void AddEncodeCommand(CLI::App& app);
// stubkit decode --total N IN OUT: every byte the installer's decoder emits.
void AddDecodeCommand(CLI::App& app);
// stubkit build CONFIG [-o OUT] [--stub STUB] [-1..-12] [-T N]: pack a product folder.
void AddBuildCommand(CLI::App& app);
// stubkit list SETUP [--json]: the record's fields and the file table.
void AddListCommand(CLI::App& app);
// stubkit test SETUP: decode and check everything as the installer would.
void AddTestCommand(CLI::App& app);
// stubkit extract SETUP DIR [NAME-OR-PATTERN]...: write the files with their times.
void AddExtractCommand(CLI::App& app);

}  // namespace stubkit

#endif
