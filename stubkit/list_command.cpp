#include <iostream>
#include <memory>

#include "stubkit/commands.h"
#include "stubkit/operations.h"
#include "stubkit/signing_options.h"

namespace stubkit {
namespace {

struct ListOptions {
    std::string setup;
    bool json = false;
    int codepage = kDefaultCodepage;
    SignatureCheckOptions signature;
};

void RunList(const ListOptions& options)
{
    const Codepage codepage(options.codepage);
    const std::filesystem::path setup = std::filesystem::u8path(options.setup);
    const InstallerImage image = ReadInstallerImage(setup);
    std::cout << DescribeInstaller(image, codepage, options.json, InspectSignature(setup, options.signature.ca_file));
}

}  // namespace

void AddListCommand(CLI::App& app)
{
    auto options = std::make_shared<ListOptions>();
    CLI::App* command = app.add_subcommand("list", "Show an installer's configuration and its files");
    command->footer("Shortcut rows are shown as the installer reads them (up to the first empty link).\n"
                    "Times are UTC: creation, last access, last write.");
    command->add_option("SETUP", options->setup, "Installer to inspect")->required()->check(RegularFile());
    command->add_flag("--json", options->json, "Print JSON for machines instead of tables");
    command->add_option("--codepage", options->codepage, "ANSI code page the names are in (default 1252)")
        ->check(AnsiCodepage());
    AddSignatureCheckOptions(*command, options->signature, false);
    command->callback([options] { RunList(*options); });
}

}  // namespace stubkit
