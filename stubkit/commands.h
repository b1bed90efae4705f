// stubkit/: the host tool's commands and what only they use: the product's
// TOML config, the pack plan and the packer, progress bars, file times and
// file I/O, the code page, and the stub the tool carries. They may use
// stubkit/encoder, stubkit/container, payload/ and installer/installer_config;
// neither of those two folders uses anything here.
//
// Subcommands of the stubkit tool. Each lives in its own file and registers
// itself on the application; main() only calls the Add...Command functions.
#ifndef STUBKIT_COMMANDS_H
#define STUBKIT_COMMANDS_H

#include <CLI/CLI.hpp>

#include "stubkit/codepage.h"
#include "stubkit/container/installer_file.h"

namespace stubkit {

// The tool's exit statuses; scripts rely on them.
constexpr int kExitSuccess = 0;
constexpr int kExitFailure = 1;   // the work failed, a missing or unreadable input file included
constexpr int kExitUsage = 2;     // the command line is wrong

// An input file that cannot be read: the work failed, not the command line.
class InputFileError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// An existing regular file: checked without opening it, so a FIFO given by
// mistake is refused instead of blocking the tool. Throws InputFileError,
// which the parser passes on instead of calling it a usage error.
inline CLI::Validator RegularFile()
{
    return CLI::Validator(
        [](std::string& path) {
            const std::string problem = NonRegularFileProblem(path);
            if (!problem.empty())
                throw InputFileError(problem);
            return std::string();
        },
        "FILE", "RegularFile");
}

// A Windows ANSI code page number.
inline CLI::Validator AnsiCodepage()
{
    return CLI::Validator([](std::string& text) { return CodepageArgumentProblem(text); }, "CODEPAGE", "AnsiCodepage");
}

// -T/--threads N for the commands that compress; the default is the
// machine's hardware threads (at most kMaxThreads).
void AddThreadsOption(CLI::App& command, int& threads);

// stubkit encode [-1..-9] [-T N] IN OUT: the raw compressed stream of IN's bytes.
void AddEncodeCommand(CLI::App& app);
// stubkit decode --total N IN OUT: every byte the installer's decoder emits.
void AddDecodeCommand(CLI::App& app);
// stubkit build CONFIG [-o OUT] [--stub STUB] [-1..-9] [-T N]: pack a product folder.
void AddBuildCommand(CLI::App& app);
// stubkit list SETUP [--json]: the record's fields and the file table.
void AddListCommand(CLI::App& app);
// stubkit test SETUP: decode and check everything as the installer would.
void AddTestCommand(CLI::App& app);
// stubkit extract SETUP DIR [NAME-OR-PATTERN]...: write the files with their times.
void AddExtractCommand(CLI::App& app);

}  // namespace stubkit

#endif
