#include <iostream>
#include <memory>

#include "stubkit/commands.h"
#include "stubkit/container/printable_text.h"
#include "stubkit/operations.h"
#include "stubkit/progress.h"

namespace stubkit {
namespace {

struct TestOptions {
    std::string setup;
    int codepage = kDefaultCodepage;
    bool quiet = false;
};

void RunTest(const TestOptions& options)
{
    const Codepage codepage(options.codepage);
    const TestOutcome outcome = TestInstaller(options.setup, codepage, !options.quiet && StderrIsTerminal());
    if (!outcome.passed)
        throw std::runtime_error(Quoted(options.setup) + " is damaged: " + outcome.message);
    if (!options.quiet)
        std::cout << Printable(options.setup) << ": OK, " << outcome.message << "\n";
}

}  // namespace

void AddTestCommand(CLI::App& app)
{
    auto options = std::make_shared<TestOptions>();
    CLI::App* command = app.add_subcommand("test", "Check an installer as the installer itself would, without installing");
    command->footer("Decodes the whole payload, compares every file's CRC and the byte count the way the\n"
                    "installer does, and names the first damaged file. Exit status 0 only when the\n"
                    "installer would extract every file successfully.");
    command->add_option("SETUP", options->setup, "Installer to check")->required()->check(RegularFile());
    command->add_option("--codepage", options->codepage, "ANSI code page the names are in (default 1252)")
        ->check(AnsiCodepage());
    command->add_flag("-q,--quiet", options->quiet, "Print nothing on success");
    command->callback([options] { RunTest(*options); });
}

}  // namespace stubkit
