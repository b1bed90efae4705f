#include <cstdio>
#include <exception>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "stubkit/commands/command_line.h"
#include "stubkit/commands/commands.h"
#include "stubkit/commands/tool_documents.h"
#include "stubkit/container/printable_text.h"
#include "stubkit/pack/embedded_stub.h"
#include "stubkit/platform/platform.h"

namespace {

const std::string kVersionLine = "stubkit " STUBKIT_VERSION;

// What a vendor's release notes and bug reports need: which tool, and which
// stub and uninstaller its installers will carry.
std::string VersionText()
{
    return kVersionLine + "\ninstaller stub: " + std::to_string(stubkit::kEmbeddedStubSize) +
           " bytes\nuninstaller:    " + std::to_string(stubkit::kEmbeddedUninstallerSize) +
           " bytes (inside the stub)\n"
           "Copyright (c) 2026 the stubkit authors. zlib License: free to use, change and ship, also in\n"
           "commercial products; see LICENSE. Installers built with stubkit need no notice.";
}

// Hidden flags through which the build generates the installed manual page
// and completion script from this very setup.
void AddDocumentFlags(CLI::App& app)
{
    app.add_flag_callback("--man-page", [&app] {
        std::cout << stubkit::ManPage(app, kVersionLine);
        throw CLI::Success();
    })->group("");
    app.add_flag_callback("--bash-completion", [&app] {
        std::cout << stubkit::BashCompletion(app);
        throw CLI::Success();
    })->group("");
}

// CLI11 would call a mistyped command an unexpected argument; say what it is.
bool IsUnknownCommand(CLI::App& app, const std::vector<std::string>& arguments)
{
    if (arguments.size() < 2 || arguments[1].empty() || arguments[1][0] == '-')
        return false;
    std::string known;
    for (const CLI::App* command : app.get_subcommands([](const CLI::App*) { return true; })) {
        if (command->get_name() == arguments[1])
            return false;
        known += (known.empty() ? "" : ", ") + command->get_name();
    }
    std::fprintf(stderr, "stubkit: unknown command %s; the commands are %s\nTry 'stubkit --help' for more information.\n",
                 stubkit::Quoted(arguments[1]).c_str(), known.c_str());
    return true;
}

// Help shows each option's value by its name only: the parser's type tags,
// REQUIRED and its Needs/Excludes lists are in the usage line and the
// descriptions already.
class PlainFormatter : public CLI::Formatter {
public:
    std::string make_option_opts(const CLI::Option* option) const override
    {
        if (option->get_positional() || option->get_expected_max() == 0 || option->get_type_name().empty())
            return std::string();
        return " " + option->get_type_name() + (option->get_expected_max() > 1 ? " ..." : "");
    }
};

}  // namespace

int main(int argc, char** argv)
{
    stubkit::platform::PrepareConsole();
    std::vector<std::string> arguments = stubkit::platform::Utf8Arguments(argc, argv);
    std::vector<char*> utf8_argv;
    for (std::string& argument : arguments)
        utf8_argv.push_back(argument.data());
    utf8_argv.push_back(nullptr);
    CLI::App app{"stubkit: builds and inspects self-extracting installers", "stubkit"};
    // The same options on every host: CLI11 would take "/name" for an option
    // on Windows, where it may as well be a path from the root of a drive.
    app.allow_windows_style_options(false);
    app.formatter(std::make_shared<PlainFormatter>());
    app.set_version_flag("--version", VersionText(), "Print the version and the sizes of the stub and uninstaller");
    stubkit::AddBuildCommand(app);
    stubkit::AddListCommand(app);
    stubkit::AddTestCommand(app);
    stubkit::AddExtractCommand(app);
    stubkit::AddEncodeCommand(app);
    stubkit::AddDecodeCommand(app);
    AddDocumentFlags(app);
    app.footer("A product installer in two steps:\n"
               "  stubkit build product.toml -o product-setup.exe\n"
               "  stubkit test product-setup.exe\n"
               "Signed for release (see 'stubkit build --help'):\n"
               "  stubkit build product.toml -o product-setup.exe --sign-pkcs12 vendor.p12 --sign-pass-file pass.txt\n"
               "  stubkit test --require-signature product-setup.exe\n"
               "'stubkit COMMAND --help' describes each command; build's help shows the config format.");
    app.require_subcommand(1);
    app.parse_complete_callback(stubkit::ReportInputFileProblems);
    if (IsUnknownCommand(app, arguments))
        return stubkit::kExitUsage;
    stubkit::SpellHighLevelFlags(static_cast<int>(arguments.size()), utf8_argv.data());
    try {
        app.parse(static_cast<int>(arguments.size()), utf8_argv.data());
    } catch (const CLI::ParseError& error) {
        return stubkit::ReportParseError(app, error);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "stubkit: %s\n", error.what());
        return stubkit::kExitFailure;
    }
    return stubkit::kExitSuccess;
}
