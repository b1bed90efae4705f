#include <iostream>
#include <memory>

#include "stubkit/commands.h"
#include "stubkit/container/printable_text.h"
#include "stubkit/operations.h"
#include "stubkit/progress.h"
#include "stubkit/signing_options.h"

namespace stubkit {
namespace {

struct TestOptions {
    std::string setup;
    std::string stub;
    int codepage = kDefaultCodepage;
    bool quiet = false;
    bool json = false;
    SignatureCheckOptions signature;
};

// The whole verdict as JSON on stdout, also for a file the installer would
// refuse at its head (no files then); the exit status still tells pass or fail.
void RunTestForJson(const TestOptions& options)
{
    TestOutcome outcome;
    std::string failure;
    try {
        outcome = TestInstaller(options.setup, Codepage(options.codepage), ProgressStyleFor(options.quiet), options.stub);
        if (!outcome.passed)
            failure = Quoted(options.setup) + " is damaged: " + outcome.message;
    } catch (const FormatError& error) {
        outcome.message = failure = error.what();
    }
    const SignatureReport signature = InspectSignature(options.setup, options.signature.ca_file);
    const std::string refusal = SignatureRefusal(signature, options.signature.required);
    std::cout << TestOutcomeAsJson(options.setup, outcome, signature, refusal) << std::flush;
    if (failure.empty() && !refusal.empty())
        failure = Quoted(options.setup) + " " + refusal;
    if (!failure.empty())
        throw std::runtime_error(failure);
}

void RunTest(const TestOptions& options)
{
    if (options.json)
        return RunTestForJson(options);
    const Codepage codepage(options.codepage);
    const std::filesystem::path setup = std::filesystem::u8path(options.setup);
    const TestOutcome outcome = TestInstaller(setup, codepage, ProgressStyleFor(options.quiet), options.stub);
    if (!outcome.passed)
        throw std::runtime_error(Quoted(options.setup) + " is damaged: " + outcome.message);
    const SignatureReport signature = InspectSignature(setup, options.signature.ca_file);
    const std::string refusal = SignatureRefusal(signature, options.signature.required);
    if (!refusal.empty())
        throw std::runtime_error(Quoted(options.setup) + " " + refusal);
    if (!options.quiet)
        std::cout << Printable(options.setup) << ": OK, " << outcome.message << "; " << DescribeSignature(signature) << "\n";
}

}  // namespace

void AddTestCommand(CLI::App& app)
{
    auto options = std::make_shared<TestOptions>();
    CLI::App* command = app.add_subcommand("test", "Check an installer as the installer itself would, without installing");
    command->footer("Decodes the whole payload, compares every file's CRC and the byte count the way the\n"
                    "installer does, and names the first damaged file. Exit status 0 only when the\n"
                    "installer would install every file whole, where its name says: the program in\n"
                    "front of the payload is the known stub (--stub), the configuration record keeps\n"
                    "the rules build keeps, and every name is one the installer creates as it reads.\n"
                    "A signed installer passes only when its signature verifies: nothing changed since\n"
                    "signing, and the signer's certificate chains to a trusted one (the system's list,\n"
                    "or --ca-file). osslsigncode checks it.");
    command->add_option("SETUP", options->setup, "Installer to check")->required()->check(RegularFile());
    command->add_option("--stub", options->stub,
                        "The stub the installer was built with, when not the one this stubkit carries")
        ->check(RegularFile());
    command->add_option("--codepage", options->codepage, "ANSI code page the names are in (default 1252)")
        ->check(AnsiCodepage());
    command->add_flag("-q,--quiet", options->quiet, "Print nothing on success, and no progress");
    command->add_flag("--json", options->json,
                      "Print the verdict, the signature and every file's state as JSON on stdout");
    AddSignatureCheckOptions(*command, options->signature, true);
    command->callback([options] { RunTest(*options); });
}

}  // namespace stubkit
