// stubkit test: decodes the whole payload as the installer would and says
// whether the installer would install every file whole, where its name says.
#include <algorithm>
#include <iostream>
#include <memory>

#include "stubkit/commands/command_line.h"
#include "stubkit/commands/commands.h"
#include "stubkit/commands/installer_checks.h"
#include "stubkit/commands/json_output.h"
#include "stubkit/commands/operations.h"
#include "stubkit/commands/signing_options.h"
#include "stubkit/container/printable_text.h"
#include "stubkit/files/file_io.h"
#include "stubkit/files/progress.h"

namespace stubkit {
namespace fs = std::filesystem;

namespace {

// Each file's state after a run; without a run (a name problem found first)
// every file is unchecked.
std::string FileState(std::size_t index, const PayloadVerdict& verdict)
{
    if (verdict.success)
        return "ok";
    const std::optional<std::size_t> fault = verdict.damaged_file ? verdict.damaged_file : verdict.refused_name;
    if (fault)
        return index < *fault ? "ok" : index > *fault ? "unchecked" : verdict.damaged_file ? "damaged" : "refused";
    // A file cut short fails its CRC, so here every file reached is whole:
    // the stream held too few bytes for the rest, or more than the files.
    return index < verdict.files_reached ? "ok" : "missing";
}

std::vector<FileVerdict> FileVerdicts(const InstallerImage& image, const Codepage& codepage,
                                      const std::optional<PayloadVerdict>& verdict,
                                      const std::vector<std::optional<RecordRefusal>>& refusals = {})
{
    std::vector<FileVerdict> files;
    for (std::size_t i = 0; i < image.records.size(); ++i) {
        FileVerdict file{codepage.ToUtf8(image.records[i].name), image.records[i].file_size,
                         verdict ? FileState(i, *verdict) : "unchecked"};
        if (i < refusals.size() && refusals[i])
            file.state = "refused", file.rule = refusals[i]->rule, file.refusal = refusals[i]->message,
            file.installer_message = refusals[i]->installer_message;
        files.push_back(std::move(file));
    }
    return files;
}

}  // namespace

std::string TestOutcomeAsJson(const fs::path& path, const TestOutcome& outcome, const SignatureReport& signature,
                              const std::string& signature_refusal)
{
    Json files = Json::array();
    for (const FileVerdict& file : outcome.files)
        files.push_back({{"name", file.name}, {"size", file.size}, {"state", file.state}, {"rule", file.rule},
                         {"refusal", file.refusal}, {"installer_message", file.installer_message}});
    return JsonText({{"installer", path.u8string()},
                     {"folder", outcome.folder},
                     {"passed", outcome.passed && signature_refusal.empty()},
                     {"message", outcome.message},
                     {"signature", SignatureAsJson(signature)},
                     {"signature_refusal", signature_refusal},
                     {"files", std::move(files)}});
}

TestOutcome TestInstaller(const fs::path& path, const Codepage& codepage, ProgressStyle progress, const fs::path& stub,
                          const std::optional<std::string>& folder)
{
    const std::string install_dir_for_folder = folder ? InstallDirFor(*folder, codepage) : std::string();
    const InstallerImage image = ReadInstallerImage(path);
    TestOutcome outcome;
    const std::string install_dir = folder ? install_dir_for_folder : ProposedInstallDir(image.config);
    outcome.folder = codepage.ToUtf8(install_dir);
    outcome.message = RecordOrStubProblem(image, codepage, stub);
    if (!outcome.message.empty()) {
        outcome.files = FileVerdicts(image, codepage, std::nullopt);
        return outcome;
    }
    const std::vector<std::optional<RecordRefusal>> refusals = RecordRefusals(image.records, codepage, install_dir);
    for (const std::optional<RecordRefusal>& refusal : refusals)
        if (refusal && outcome.message.empty())
            outcome.message = refusal->message;
    if (!outcome.message.empty()) {
        outcome.files = FileVerdicts(image, codepage, std::nullopt, refusals);
        return outcome;
    }
    ProgressBar bar("testing", image.header.total_size, progress);
    outcome.verdict = RunPayload(image, nullptr, codepage.LeadBytes(), [&bar](std::uint64_t done) { bar.Update(done); });
    bar.Finish();
    outcome.message = VerdictMessage(image, outcome.verdict, codepage);
    outcome.passed = outcome.verdict.success;
    outcome.files = FileVerdicts(image, codepage, outcome.verdict);
    if (outcome.passed) {
        const std::string inconsistency = HeaderInconsistency(image);
        if (!inconsistency.empty()) {
            outcome.passed = false;
            outcome.message = inconsistency + "; the installer would not install the whole product";
        }
    }
    return outcome;
}

namespace {

struct TestOptions {
    InstallerInputOptions input;
    bool json = false;
    std::optional<std::string> folder;
    SignatureCheckOptions signature;
};

// The whole verdict as JSON on stdout, also for a file the installer would
// refuse at its head (no files then); the exit status still tells pass or fail.
void RunTestForJson(const TestOptions& options)
{
    const fs::path& setup = options.input.setup;
    const InstallerInput input(setup);
    TestOutcome outcome;
    std::string failure;
    try {
        outcome = TestInstaller(input.Path(), Codepage(options.input.codepage),
                                ProgressStyleFor(options.input.verbosity.quiet), options.input.stub, options.folder);
        if (!outcome.passed)
            failure = Quoted(setup) + " is damaged: " + outcome.message;
    } catch (const FormatError& error) {
        outcome.message = failure = input.Named(error.what());
    }
    const SignatureReport signature = InspectSignature(input.Path(), options.signature.ca_file);
    const std::string refusal = SignatureRefusal(signature, options.signature.required);
    std::cout << TestOutcomeAsJson(setup, outcome, signature, refusal) << std::flush;
    if (failure.empty() && !refusal.empty())
        failure = Quoted(setup) + " " + refusal;
    if (!failure.empty())
        throw std::runtime_error(failure);
}

void RunTest(const TestOptions& options)
{
    if (options.json)
        return RunTestForJson(options);
    const fs::path& setup = options.input.setup;
    const Verbosity& verbosity = options.input.verbosity;
    const InstallerInput input(setup);
    TestOutcome outcome;
    try {
        outcome = TestInstaller(input.Path(), Codepage(options.input.codepage), ProgressStyleFor(verbosity.quiet),
                                options.input.stub, options.folder);
    } catch (const FormatError& error) {
        throw FormatError(input.Named(error.what()));
    }
    outcome.message = input.Named(outcome.message);
    if (verbosity.verbose)
        for (const FileVerdict& file : outcome.files)
            std::cout << "  " << file.state << std::string(10 - std::min<std::size_t>(file.state.size(), 9), ' ')
                      << Printable(file.name) << "\n";
    if (!outcome.passed)
        throw std::runtime_error(Quoted(setup) + " is damaged: " + outcome.message);
    const SignatureReport signature = InspectSignature(input.Path(), options.signature.ca_file);
    const std::string refusal = SignatureRefusal(signature, options.signature.required);
    if (!refusal.empty())
        throw std::runtime_error(Quoted(setup) + " " + refusal);
    if (!verbosity.quiet)
        std::cout << Printable(setup.u8string()) << ": OK, " << outcome.message << "; " << DescribeSignature(signature)
                  << "\n";
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
                    "the rules build keeps, and every name is one the installer creates as it reads,\n"
                    "in the code page (--codepage), and fits under the installation folder (--folder).\n"
                    "A signed installer passes only when its signature verifies: nothing changed since\n"
                    "signing, and the signer's certificate chains to a trusted one (the system's list,\n"
                    "or --ca-file). osslsigncode checks it.");
    AddInstallerInputOptions(*command, options->input, "Installer to check ('-': standard input)", true);
    AddVerbosityFlags(*command, options->input.verbosity, "Print nothing on success, and no progress",
                      "Also print each file's state (ok, damaged, refused, missing, unchecked)");
    command->add_option("--folder", options->folder,
                        "Judge the lengths of the names under this installation folder instead of the one the "
                        "installer proposes (C:\\Program Files\\ and the default folder)")
        ->type_name("PATH");
    command->add_flag("--json", options->json,
                      "Print the verdict, the signature and every file's state as JSON on stdout");
    AddSignatureCheckOptions(*command, options->signature, true);
    command->callback([options] { RunTest(*options); });
}

}  // namespace stubkit
