#include <iostream>
#include <memory>

#include "stubkit/commands.h"
#include "stubkit/container/printable_text.h"
#include "stubkit/operations.h"
#include "stubkit/progress.h"

namespace stubkit {
namespace {

struct ExtractOptions {
    std::string setup;
    std::string folder;
    std::string stub;
    int codepage = kDefaultCodepage;
    bool overwrite = false;
    bool quiet = false;
    ExtractChoices choices;
};

void RunExtract(ExtractOptions options)
{
    const Codepage codepage(options.codepage);
    options.choices.progress = ProgressStyleFor(options.quiet);
    options.choices.stub = options.stub;
    const std::size_t files = ExtractInstaller(std::filesystem::u8path(options.setup), std::filesystem::u8path(options.folder), codepage, options.overwrite, options.choices);
    if (!options.quiet)
        std::cout << Printable(options.setup) << ": extracted " << files << " files into " << Printable(options.folder) << "\n";
}

}  // namespace

void AddExtractCommand(CLI::App& app)
{
    auto options = std::make_shared<ExtractOptions>();
    CLI::App* command = app.add_subcommand("extract", "Unpack an installer's files into a folder");
    command->footer("Files get their modification and access times from the installer (Linux cannot\n"
                    "set a creation time). What `test` refuses before decoding (an unknown stub, a\n"
                    "record build never writes, names the installer refuses or that land on one file)\n"
                    "and existing files (unless --overwrite) are refused before anything is written;\n"
                    "nothing is written through a symbolic link. A damaged payload stops extraction\n"
                    "at the damaged file, which is removed, with a non-zero exit status.\n"
                    "Names and patterns pick files as archive tools do: '*' matches any run of\n"
                    "characters ('/' too), '?' one character, [a-z] one of a set; '/' and '\\' are alike,\n"
                    "letter case counts, and a folder's name takes everything in it. A name or pattern\n"
                    "that matches no file stops the command before anything is written.");
    command->add_option("SETUP", options->setup, "Installer to unpack")->required()->check(RegularFile());
    command->add_option("DIR", options->folder, "Folder to write into (created if missing)")->required();
    command->add_option("NAME-OR-PATTERN", options->choices.patterns, "Files to extract (default: all)");
    command->add_option("--stub", options->stub,
                        "The stub the installer was built with, when not the one this stubkit carries")
        ->check(RegularFile());
    command->add_option("--codepage", options->codepage, "ANSI code page the names are in (default 1252)")
        ->check(AnsiCodepage());
    command->add_flag("--overwrite", options->overwrite, "Replace files that already exist in DIR");
    command->add_flag("-q,--quiet", options->quiet, "Print nothing on success, and no progress");
    command->callback([options] { RunExtract(*options); });
}

}  // namespace stubkit
