#include <iostream>
#include <memory>

#include "stubkit/commands.h"
#include "stubkit/operations.h"

namespace stubkit {
namespace {

struct ExtractOptions {
    std::string setup;
    std::string folder;
    int codepage = kDefaultCodepage;
};

void RunExtract(const ExtractOptions& options)
{
    const Codepage codepage(options.codepage);
    const std::size_t files = ExtractInstaller(options.setup, options.folder, codepage);
    std::cout << options.setup << ": extracted " << files << " files into " << options.folder << "\n";
}

}  // namespace

void AddExtractCommand(CLI::App& app)
{
    auto options = std::make_shared<ExtractOptions>();
    CLI::App* command = app.add_subcommand("extract", "Unpack an installer's files into a folder");
    command->footer("Files get their modification and access times from the installer (Linux cannot\n"
                    "set a creation time). Names that would land outside DIR (absolute, with a drive,\n"
                    "or with '..') are refused before anything is written. A damaged payload stops\n"
                    "extraction at the damaged file with a non-zero exit status.");
    command->add_option("SETUP", options->setup, "Installer to unpack")->required()->check(CLI::ExistingFile);
    command->add_option("DIR", options->folder, "Folder to write into (created if missing)")->required();
    command->add_option("--codepage", options->codepage, "ANSI code page the names are in (default 1252)")
        ->check(CLI::PositiveNumber);
    command->callback([options] { RunExtract(*options); });
}

}  // namespace stubkit
