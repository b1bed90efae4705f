// What every command's command line is made of: the exit statuses, path and
// code-page options, the compressors' thread and level flags, and the option
// block of the commands that read an installer. Each command lives in a file
// of its own in this folder and registers itself through its Add...Command
// function (commands.h); main() only calls them.
#ifndef STUBKIT_COMMANDS_COMMAND_LINE_H
#define STUBKIT_COMMANDS_COMMAND_LINE_H

#include <CLI/CLI.hpp>

#include <filesystem>
#include <functional>
#include <string>

#include "stubkit/files/codepage.h"

namespace stubkit {

// The tool's exit statuses; scripts rely on them.
constexpr int kExitSuccess = 0;
constexpr int kExitFailure = 1;   // the work failed, a missing or unreadable input file included
constexpr int kExitUsage = 2;     // the command line is wrong

// Input files found missing or unreadable while the command line is parsed
// are the work's failure, not a usage error, and are reported only once the
// command line as a whole has passed (so --help and usage errors come
// first). main() installs this as the parse-complete callback: it throws
// the first such problem as a std::runtime_error.
void ReportInputFileProblems();

// An existing regular file: checked without opening it, so a FIFO given by
// mistake is refused instead of blocking the tool. With `standard_input`,
// "-" (standard input) passes too.
CLI::Validator RegularFile(bool standard_input = false);

// A path option: arguments are UTF-8 on every host, and a path is made from
// one through u8path (CLI11 would read it in the host's narrow code page).
// `value_name` is what the help shows for the value.
CLI::Option* AddPathOption(CLI::App& command, const std::string& name, std::filesystem::path& path,
                           const std::string& description, const std::string& value_name = "FILE");

// -q and -v, which every command takes; they exclude each other.
struct Verbosity {
    bool quiet = false;
    bool verbose = false;
};
void AddVerbosityFlags(CLI::App& command, Verbosity& verbosity, const std::string& quiet_description,
                       const std::string& verbose_description);

// A usage error as the tools around it say one, for the command being
// parsed (or the tool itself when none): "stubkit build: missing CONFIG"
// and a line on where help is. Help and version requests print as they are.
// Gives the exit status.
int ReportParseError(const CLI::App& app, const CLI::ParseError& error);

// --codepage N, a Windows ANSI code page.
void AddCodepageOption(CLI::App& command, int& codepage, const std::string& description);

// -T/--threads N for the commands that compress; the default is the
// machine's hardware threads (at most kMaxThreads).
void AddThreadsOption(CLI::App& command, int& threads);

// -10 .. -12 and --ultra (the same as -12) for the commands that compress.
// CLI11 reads "-12" as "-1 -2", so main() first spells those flags as
// "--12" with SpellHighLevelFlags, which the commands take.
void AddHighLevelFlags(CLI::App& command, const std::function<void(int)>& set_level);
void SpellHighLevelFlags(int argc, char** argv);

// What `test` and `extract` both read: the installer, the stub it was built
// with, the code page of its names, and how much to say.
struct InstallerInputOptions {
    std::filesystem::path setup;   // "-": standard input
    std::filesystem::path stub;    // empty: the stub this stubkit carries
    int codepage = kDefaultCodepage;
    Verbosity verbosity;
};

// SETUP, --stub and --codepage; the command adds its own options after.
// `standard_input`: SETUP may be "-".
void AddInstallerInputOptions(CLI::App& command, InstallerInputOptions& options,
                              const std::string& setup_description, bool standard_input);

}  // namespace stubkit

#endif
