#include <cstdio>
#include <memory>

#include "stubkit/commands.h"
#include "stubkit/operations.h"
#include "stubkit/pack_plan.h"
#include "stubkit/progress.h"
#include "stubkit/signing_options.h"

namespace stubkit {
namespace {

struct BuildCommandOptions {
    BuildOptions build;
    bool quiet = false;
};

void RunBuild(BuildCommandOptions options)
{
    // Warnings and the summary go to stderr wherever it leads, so scripts
    // and logs keep them; only the progress bar needs a terminal to redraw.
    const bool chatty = !options.quiet;
    options.build.progress = ProgressStyleFor(options.quiet);
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
        std::fprintf(stderr, "stubkit: wrote %s: %zu files, %s compressed to %s (%.1f%%), installer %s%s\n",
                     outcome.output.string().c_str(), outcome.file_count, HumanBytes(outcome.total_size).c_str(),
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
        "time recorded. Nothing is written unless every check passes; all problems are listed\n"
        "at once.");
    AddPathOption(*command, "CONFIG", options->build.config, "Product description (TOML)")
        ->required()
        ->check(RegularFile());
    AddPathOption(*command, "-o,--output", options->build.output,
                        "Installer to write (default: <CONFIG name>-setup.exe here)");
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
    command->add_option("--codepage", options->build.codepage,
                        "Windows ANSI code page of the target systems (default 1252)")
        ->check(AnsiCodepage());
    command->add_flag("--follow-symlinks", options->build.follow_symlinks,
                      "Pack symbolic links that lead outside the product folder as the files they name");
    command->add_flag("-q,--quiet", options->quiet, "Print errors only, no warnings or summary");
    AddSigningOptions(*command, options->build.signing);
    command->callback([options] { RunBuild(*options); });
}

}  // namespace stubkit
