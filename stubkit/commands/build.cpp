// stubkit build: checks a product's config, folder and stub all at once,
// then packs the installer and signs it when asked.
#include <cstdio>
#include <cstdlib>
#include <memory>

#include "stubkit/commands/command_line.h"
#include "stubkit/commands/commands.h"
#include "stubkit/commands/installer_checks.h"
#include "stubkit/commands/operations.h"
#include "stubkit/commands/signing_options.h"
#include "stubkit/container/printable_text.h"
#include "stubkit/container/record_rules.h"
#include "stubkit/files/file_identity.h"
#include "stubkit/files/file_io.h"
#include "stubkit/files/file_times.h"
#include "stubkit/files/progress.h"
#include "stubkit/pack/pack_plan.h"
#include "stubkit/pack/product_config.h"
#include "stubkit/pack/source_files.h"
#include "stubkit/pack/stub.h"
#include "stubkit/platform/platform.h"

namespace stubkit {
namespace fs = std::filesystem;

namespace {

fs::path DefaultName(const fs::path& config)
{
    return fs::u8path(config.stem().u8string() + "-setup.exe");
}

// "-o out/" or an existing folder: the default name inside it, as copy
// tools take a folder for a destination.
bool EndsInSeparator(const fs::path& path)
{
    const std::string text = path.u8string();
    return !text.empty() && (text.back() == '/' || (fs::path::preferred_separator == '\\' && text.back() == '\\'));
}

fs::path OutputPath(const BuildOptions& options)
{
    if (options.output.empty())
        return DefaultName(options.config);
    std::error_code ignored;
    if (EndsInSeparator(options.output) || fs::is_directory(options.output, ignored))
        return options.output / DefaultName(options.config);
    return options.output;
}

std::vector<std::uint8_t> LoadStub(const BuildOptions& options, std::string& origin)
{
    origin = options.stub.empty() ? "(built in)" : Quoted(options.stub);
    return StubBytes(options.stub);
}

// SOURCE_DATE_EPOCH, as reproducible-build tooling sets it: no recorded time
// may be later.
std::optional<std::uint64_t> LatestTime(std::vector<std::string>& problems)
{
    const char* text = std::getenv("SOURCE_DATE_EPOCH");
    if (text == nullptr || *text == '\0')
        return std::nullopt;
    const std::string value = text;
    if (value.size() > 12 || value.find_first_not_of("0123456789") != std::string::npos) {
        problems.push_back("SOURCE_DATE_EPOCH: " + Quoted(value) + " is not a number of seconds since 1970");
        return std::nullopt;
    }
    return FiletimeFromUnix(std::stoll(value), 0);
}

// Where `path` really leads: through links, and for a file yet to be made
// through the links of its folder.
fs::path RealPath(const fs::path& path)
{
    std::error_code error;
    const fs::path real = platform::RealPath(path, error);
    if (!error)
        return real;
    const fs::path absolute = fs::absolute(path).lexically_normal();
    const fs::path parent = platform::RealPath(absolute.parent_path(), error);
    return error ? absolute : parent / absolute.filename();
}

// The installer is written last, over whatever is at `output`: it must not be
// one of the build's own inputs, nor land in the folder being packed.
void CheckOutput(const fs::path& output, const BuildOptions& options, const ProductConfig& config,
                 const std::vector<SourceFile>& files, std::vector<std::string>& problems)
{
    const fs::path real = RealPath(output);
    const std::string named = "output " + Quoted(output);
    const fs::path inside = real.lexically_relative(RealPath(config.source));
    if (!inside.empty() && *inside.begin() != "..")
        problems.push_back(named + " lies inside the product folder " + Quoted(config.source));
    std::vector<fs::path> inputs = {options.config};
    if (!options.stub.empty())
        inputs.push_back(options.stub);
    for (const SourceFile& file : files)
        inputs.push_back(file.path);
    const std::string problem = OutputProblem(output, inputs);
    if (!problem.empty())
        problems.push_back(problem);
}

// The plan's files and records in `order` (index i: the one packed i-th).
void Reorder(PackPlan& plan, const std::vector<std::size_t>& order)
{
    std::vector<SourceFile> files;
    std::vector<FileRecord> records;
    for (const std::size_t index : order) {
        files.push_back(std::move(plan.files[index]));
        records.push_back(plan.records[index]);
    }
    plan.files = std::move(files);
    plan.records = std::move(records);
}

// Every problem at once, in the order found; those in the config's fields
// carry its file and line.
[[noreturn]] void Refuse(const ProductConfig& config, std::vector<std::string> problems)
{
    std::vector<std::string> located;
    std::size_t in_config = 0;
    for (const std::string& problem : problems) {
        // The config's own problems are located already; the plan's are not.
        located.push_back(IsConfigProblem(config, problem) ? problem : LocatedProblem(config, problem));
        if (located.back().empty())
            located.pop_back();
        else
            in_config += IsConfigProblem(config, located.back()) ? 1 : 0;
    }
    throw ValidationError(std::move(located), in_config);
}

}  // namespace

BuildOutcome BuildInstaller(const BuildOptions& options, const WarningSink& warn)
{
    std::vector<std::string> problems;
    const ProductConfig config = LoadProductConfig(options.config, options.variables, problems);
    const Codepage codepage(options.codepage);
    std::string stub_origin;
    const Stub stub = CheckStub(LoadStub(options, stub_origin), stub_origin, problems);
    CheckSigningOptions(options.signing, problems);
    if (!config.complete)
        Refuse(config, problems);
    ScanRules rules;
    rules.follow_outside_links = options.follow_symlinks;
    rules.latest_time = LatestTime(problems);
    SourceScan scan = CollectSourceFiles(config.source, rules);
    problems.insert(problems.end(), scan.problems.begin(), scan.problems.end());
    BuildOutcome outcome;
    outcome.output = OutputPath(options);
    CheckOutput(outcome.output, options, config, scan.files, problems);
    PackPlan plan = PlanPackage(config, std::move(scan.files), codepage, problems);
    // The record as `test` will judge it: whatever the plan let through
    // still has to keep the record's rules.
    if (problems.empty()) {
        const InstallerConfig record = ReadConfigRecord(PatchStub(stub, plan.texts), stub.record_offset);
        for (const std::string& problem : RecordProblems(record, plan.records, codepage.LeadBytes()))
            problems.push_back("configuration record: " + codepage.ToUtf8(problem));
        // And the files as `test` will judge them, their lengths under the
        // folder the installer proposes.
        for (const std::optional<RecordRefusal>& refusal :
             RecordRefusals(plan.records, codepage, ProposedInstallDir(record)))
            if (refusal)
                problems.push_back(refusal->message);
    }
    if (!problems.empty())
        Refuse(config, problems);

    for (const std::string& entry : scan.skipped)
        warn("skipped " + entry);
    for (const std::string& folder : scan.empty_folders)
        warn("empty folder " + Quoted(folder) + " left out: the installer creates a folder only for the files in it");
    if (plan.files.empty())
        warn("source folder " + Quoted(config.source) + " holds no files");
    for (const std::string& warning : plan.warnings)
        warn(LocatedProblem(config, warning));   // never about a faulty field: there would be no build

    if (OrdersByContent(options.order, options.level))
        Reorder(plan, ContentOrder(plan.files, options.threads, outcome.order));
    outcome.file_count = plan.files.size();
    for (const FileRecord& record : plan.records)
        outcome.packed_names.push_back(codepage.ToUtf8(record.name));
    outcome.total_size = plan.total_size;
    // "-o dist/": the folder is made once every check has passed.
    if (EndsInSeparator(options.output))
        fs::create_directories(options.output);
    ProgressBar bar("packing", plan.total_size, options.progress);
    outcome.pack = WriteInstaller(plan, stub, outcome.output, options.level, options.threads,
                                  [&bar](std::uint64_t done) { bar.Update(done); });
    bar.Finish();
    if (options.signing.Requested()) {
        SignInstaller(outcome.output, options.signing);
        outcome.signed_installer = true;
        outcome.pack.installer_size = fs::file_size(outcome.output);
    }
    return outcome;
}

namespace {

struct BuildCommandOptions {
    BuildOptions build;
    std::vector<std::string> definitions;
    std::string order;
    Verbosity verbosity;
};

void RunBuild(BuildCommandOptions options)
{
    // Warnings and the summary go to stderr wherever it leads, so scripts
    // and logs keep them; only the progress bar needs a terminal to redraw.
    const bool chatty = !options.verbosity.quiet;
    options.build.progress = ProgressStyleFor(options.verbosity.quiet);
    options.build.order = ParsePackOrder(options.order);
    for (const std::string& definition : options.definitions) {
        const std::size_t equals = definition.find('=');
        options.build.variables[definition.substr(0, equals)] = definition.substr(equals + 1);
    }
    BuildOutcome outcome;
    try {
        outcome = BuildInstaller(options.build, [chatty](const std::string& warning) {
            if (chatty)
                std::fprintf(stderr, "stubkit: warning: %s\n", warning.c_str());
        });
    } catch (const ValidationError& error) {
        for (const std::string& problem : error.Problems())
            std::fprintf(stderr, "stubkit: error: %s\n", problem.c_str());
        throw std::runtime_error(error.Summary(options.build.config) + "; nothing was written");
    }
    if (chatty) {
        const double ratio = outcome.total_size == 0 ? 0.0
                                                     : 100.0 * static_cast<double>(outcome.pack.stream_size) /
                                                           static_cast<double>(outcome.total_size);
        if (options.verbosity.verbose) {
            for (const std::string& name : outcome.packed_names)
                std::fprintf(stderr, "stubkit: packed %s\n", Printable(name).c_str());
            const OrderChoice& order = outcome.order;
            if (order.trial_name != 0)
                std::fprintf(stderr, "stubkit: packed in %s order (trial encode: %llu bytes, name order %llu); %s behind an identical one\n",
                             order.content_order ? "content" : "name", static_cast<unsigned long long>(order.trial_content),
                             static_cast<unsigned long long>(order.trial_name),
                             Counted(order.duplicates, "file").c_str());
        }
        std::fprintf(stderr, "stubkit: wrote %s: %s, %s compressed to %s (%.1f%%), installer %s%s\n",
                     outcome.output.u8string().c_str(), Counted(outcome.file_count, "file").c_str(),
                     HumanBytes(outcome.total_size).c_str(),
                     HumanBytes(outcome.pack.stream_size).c_str(), ratio,
                     HumanBytes(outcome.pack.installer_size).c_str(), outcome.signed_installer ? ", signed" : "");
    }
}

}  // namespace

void AddBuildCommand(CLI::App& app)
{
    auto options = std::make_shared<BuildCommandOptions>();
    CLI::App* command = app.add_subcommand("build", "Pack a product folder into an installer, as CONFIG describes");
    command->footer(
        "CONFIG is a TOML file:\n"
        "  title = \"Korvan Reader\"              product name, at most 207 characters\n"
        "  source = \"dist\"                      the product folder, relative to CONFIG\n"
        "  default_folder = \"Korvan Reader\"     folder proposed under Program Files (default: title)\n"
        "  program_group = \"Korvan\"             Start-menu folder (default: title; not empty with start_menu)\n"
        "  run_after_install = \"bin\\\\setup.exe\"  program started when the files are in place\n"
        "  [[start_menu]]                        up to 16 rows, and as many [[desktop]] rows\n"
        "  link = \"Korvan Reader.lnk\"           shortcut file name\n"
        "  target = \"bin\\\\reader.exe\"           packed file it opens (\"davirado.exe\": the uninstaller)\n"
        "\n"
        "Every file under source is packed (none may be davirado.exe or davirado.dat at its top,\n"
        "the installer's own files); '/' in targets, in run_after_install's program, in\n"
        "default_folder and in program_group is taken as '\\'. run_after_install must start with a\n"
        "packed program; program_group must be one folder. Symbolic links to files inside source are packed as those files; links leading\n"
        "outside are refused unless --follow-symlinks. SOURCE_DATE_EPOCH, when set, is the latest\n"
        "time recorded. Any text may hold ${NAME}, the value -D NAME=VALUE gives or else the\n"
        "environment variable NAME (\"$$\" is one '$'), as in title = \"Korvan Reader ${VERSION}\".\n"
        "Nothing is written unless every check passes; all problems are listed at once, each\n"
        "as FILE:LINE: field: message.");
    AddPathOption(*command, "CONFIG", options->build.config, "Product description (TOML)")
        ->required()
        ->check(RegularFile());
    AddPathOption(*command, "-o,--output", options->build.output,
                  "Installer to write (default: <CONFIG name>-setup.exe here); a folder, or a name ending in '/', "
                  "gets that name inside it")
        ->check(CLI::Validator(
            [](std::string& output) {
                return output == kStandardStreamName ? "'-': an installer is written to a file; name one" : "";
            },
            "", "NotStandardOutput"));
    command->add_option("-D,--define", options->definitions,
                        "Give ${NAME} in the config this value (repeatable); names not given come from the environment")
        ->type_name("NAME=VALUE")
        ->expected(1)
        ->allow_extra_args(false)
        ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll)
        ->check(CLI::Validator([](std::string& text) { return VariableDefinitionProblem(text); }, "", "Definition"));
    AddPathOption(*command, "--stub", options->build.stub, "Unpatched installer stub to use instead of the built-in one")
        ->check(RegularFile());
    // -1 .. -9 like the compressors users know; the levels between are
    // described by the two ends so the help stays short.
    for (int level = kFastestLevel; level <= kBestLevel; ++level) {
        CLI::Option* flag = command->add_flag_callback(
            "-" + std::to_string(level), [options, level] { options->build.level = level; },
            level == kFastestLevel ? "Compress fastest; -2 .. -8 trade speed for size"
                                   : "Compress small (default)");
        if (level != kFastestLevel && level != kBestLevel)
            flag->group("");
    }
    AddHighLevelFlags(*command, [options](int level) { options->build.level = level; });
    AddThreadsOption(*command, options->build.threads);
    command->add_option("--order", options->order,
                        "content: alike files close together where trial encodes show it pays, else name order "
                        "(the default from -5 up); name: by name, empty files first (the default at -1 .. -4)")
        ->type_name("ORDER")
        ->check(CLI::Validator([](std::string& text) { return PackOrderProblem(text); }, "", "PackOrder"));
    AddCodepageOption(*command, options->build.codepage, "Windows ANSI code page of the target systems (default 1252)");
    command->add_flag("--follow-symlinks", options->build.follow_symlinks,
                      "Pack symbolic links that lead outside the product folder as the files they name");
    AddVerbosityFlags(*command, options->verbosity, "Print errors only, no warnings or summary",
                      "Also name each file as packed, in the packed order");
    AddSigningOptions(*command, options->build.signing);
    command->callback([options] { RunBuild(*options); });
}

}  // namespace stubkit
