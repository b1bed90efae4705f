#include "stubkit/commands/tool_documents.h"

#include <sstream>

#include "stubkit/commands/json_output.h"
#include "stubkit/container/installer_file.h"
#include "stubkit/files/codepage.h"

namespace stubkit {
namespace {

// What scripts rely on; main() returns exactly these.
const char* const kExitStatusSection =
    ".SH \"EXIT STATUS\"\n"
    ".TP\n.B 0\nSuccess: the command did all it was asked (for \\fBtest\\fR: the installer passed).\n"
    ".TP\n.B 1\nThe work failed: a config or product problem, a damaged installer, a failed signature,\n"
    "or an input file that is missing or cannot be read.\n"
    ".TP\n.B 2\nA usage error: an unknown command or option, a missing or malformed argument.\n";

const char* const kEnvironmentSection =
    ".SH ENVIRONMENT\n"
    ".TP\n.B SOURCE_DATE_EPOCH\n"
    "When set (seconds since 1970), no file time recorded by \\fBbuild\\fR is later, and it is the\n"
    "signing time of a signed installer: the same inputs build the same bytes.\n"
    ".TP\n.B PATH\n"
    "Searched for \\fBosslsigncode\\fR, which signs installers and checks their signatures;\n"
    "it runs with the same environment (proxy settings for timestamp servers, for one).\n"
    ".TP\n.I NAME\n"
    "Any variable a config names as ${NAME} and \\fBbuild \\-D\\fR does not give.\n"
    ".PP\nNothing else is read: no configuration file, no locale setting.\n";

// The limits the installer's fixed-size buffers and records set.
std::string LimitsSection()
{
    const std::string buffer = std::to_string(kFileTableCapacity);
    return
    ".SH LIMITS\n"
    ".nf\n"
    "title                               at most 207 bytes in the code page\n"
    "default_folder, program_group,\n"
    "run_after_install, link, target     at most 259 bytes each\n"
    "program_group + \\e + link            at most 259 bytes\n"
    "shortcuts                           at most 16 start_menu and 16 desktop rows\n"
    "file name (with its folders)        at most 255 bytes\n"
    "file table                          at most " + buffer + " bytes (33 bytes + the name per file)\n"
    "one file                            less than 2^31 bytes (2 GiB)\n"
    "all files together                  less than 2^32 bytes (4 GiB)\n"
    "stub                                at most " + buffer + " bytes\n"
    ".fi\n"
    ".PP\nA path the installer composes (installation folder and file name) holds at most\n"
    "259 characters; \\fBbuild\\fR warns when the default folder under C:\\eProgram Files would\n"
    "exceed it.\n";
}

const char* const kStreamsSection =
    ".SH STREAMS\n"
    "A SETUP of \\fBlist\\fR or \\fBtest\\fR, and IN of \\fBencode\\fR or \\fBdecode\\fR, may be\n"
    ".B \\-\n"
    "for standard input; OUT of \\fBencode\\fR or \\fBdecode\\fR may be\n"
    ".B \\-\n"
    "for standard output. An OUT that is a FIFO or a device is written into, never replaced.\n"
    "\\fBbuild\\fR and \\fBextract\\fR write files only, and never into a device or a FIFO.\n";

const char* const kCopyrightSection =
    ".SH COPYRIGHT\n"
    "Copyright (c) 2026 the stubkit authors. stubkit is under the zlib License (the file\n"
    "LICENSE): free to use, change and ship, also in commercial products. Installers built\n"
    "with it carry its stub and uninstaller and need no notice.\n";

// The code pages --codepage takes, for completion.
std::string CodepageNumbers()
{
    std::string numbers;
    for (int number = 0; number < 2000; ++number)
        if (IsAnsiCodepage(number))
            numbers += (numbers.empty() ? "" : " ") + std::to_string(number);
    return numbers;
}

std::vector<const CLI::App*> Subcommands(const CLI::App& app)
{
    return app.get_subcommands([](const CLI::App*) { return true; });
}

// Options a reader sees in --help: hidden ones (empty group) stay hidden.
std::vector<const CLI::Option*> VisibleOptions(const CLI::App& command, bool positional)
{
    return command.get_options([positional](const CLI::Option* option) {
        return !option->get_group().empty() && option->get_positional() == positional &&
               (positional || option->nonpositional());
    });
}

bool TakesValue(const CLI::Option* option)
{
    return option->get_expected_max() != 0;   // flags expect no value
}

// Text for troff: backslashes shown as such, hyphens as minus signs (so that
// options can be searched and copied), no line taken for a request.
std::string Roff(const std::string& text)
{
    std::string out;
    bool line_start = true;
    for (char c : text) {
        if (line_start && (c == '.' || c == '\''))
            out += "\\&";
        if (c == '\\')
            out += "\\e";
        else if (c == '-')
            out += "\\-";
        else
            out += c;
        line_start = c == '\n';
    }
    return out;
}

// Footers are laid out in columns, so they keep their lines.
void Preformatted(std::ostringstream& out, const std::string& text)
{
    if (!text.empty())
        out << ".PP\n.nf\n" << Roff(text) << "\n.fi\n";
}

void OptionEntry(std::ostringstream& out, const CLI::Option* option)
{
    std::string names = option->get_positional() ? option->get_name(true) : option->get_name(false, true);
    for (std::size_t comma = names.find(','); comma != std::string::npos; comma = names.find(',', comma + 2))
        names.replace(comma, 1, ", ");
    out << ".TP\n\\fB" << Roff(names) << "\\fR";
    if (!option->get_positional() && TakesValue(option))
        out << " \\fI" << Roff(option->get_type_name()) << "\\fR";
    out << "\n" << Roff(option->get_description()) << "\n";
}

void CommandSection(std::ostringstream& out, const CLI::App& command)
{
    out << ".SS \"stubkit " << Roff(command.get_name());
    for (const CLI::Option* argument : VisibleOptions(command, true))
        out << " " << (argument->get_required() ? Roff(argument->get_name(true))
                                                : "[" + Roff(argument->get_name(true)) + "]" +
                                                      (argument->get_expected_max() > 1 ? "..." : ""));
    out << " [OPTIONS]\"\n" << Roff(command.get_description()) << "\n";
    for (bool positional : {true, false})
        for (const CLI::Option* option : VisibleOptions(command, positional))
            OptionEntry(out, option);
    Preformatted(out, command.get_footer());
}

std::string Words(const std::vector<std::string>& words)
{
    std::string text;
    for (const std::string& word : words)
        text += (text.empty() ? "" : " ") + word;
    return text;
}

std::vector<std::string> OptionNames(const CLI::Option* option)
{
    std::vector<std::string> names;
    for (const std::string& name : option->get_snames())
        names.push_back("-" + name);
    for (const std::string& name : option->get_lnames())
        names.push_back("--" + name);
    return names;
}

// What `list --json` and `test --json` print, key by key in their order.
void JsonSection(std::ostringstream& out)
{
    out << ".SH \"JSON OUTPUT\"\n"
           "\\fBlist \\-\\-json\\fR and \\fBtest \\-\\-json\\fR print one JSON object whose keys come in\n"
           "the order below, \\fBformat\\fR first. A change that scripts would notice comes with a\n"
           "new format number; new keys may be added at the end of an object.\n";
    for (const char* command : {"list", "test"}) {
        out << ".SS \"" << command << " \\-\\-json\"\n";
        for (const JsonKey& key : JsonKeys(command)) {
            const std::string object = key.object;
            out << ".TP\n.B " << Roff(object.empty() ? key.name : object + "." + key.name) << "\n"
                << Roff(key.meaning) << "\n";
        }
    }
}

}  // namespace

std::string ManPage(const CLI::App& app, const std::string& version)
{
    std::ostringstream out;
    out << ".TH STUBKIT 1 \"\" \"" << Roff(version) << "\" \"User Commands\"\n"
        << ".SH NAME\nstubkit \\- " << Roff(app.get_description().substr(app.get_description().find(": ") + 2)) << "\n"
        << ".SH SYNOPSIS\n.B stubkit\n.I COMMAND\n[\\fIOPTIONS\\fR] [\\fIARGUMENTS\\fR]\n.br\n"
        << ".B stubkit\n\\-\\-version | \\-\\-help\n"
        << ".SH DESCRIPTION\n" << Roff(app.get_description()) << "\n"
        << ".SH COMMANDS\n";
    for (const CLI::App* command : Subcommands(app))
        CommandSection(out, *command);
    out << ".SH OPTIONS\n";
    for (const CLI::Option* option : VisibleOptions(app, false))
        OptionEntry(out, option);
    out << kStreamsSection;
    JsonSection(out);
    out << kExitStatusSection << kEnvironmentSection << LimitsSection() << ".SH EXAMPLES\n";
    Preformatted(out, app.get_footer());
    out << kCopyrightSection;
    return out.str();
}

std::string BashCompletion(const CLI::App& app)
{
    std::ostringstream out;
    std::vector<std::string> top;
    for (const CLI::App* command : Subcommands(app))
        top.push_back(command->get_name());
    for (const CLI::Option* option : VisibleOptions(app, false))
        for (const std::string& name : OptionNames(option))
            top.push_back(name);
    out << "# bash completion for stubkit, generated from its command-line setup.\n"
           "_stubkit()\n{\n"
           "    local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD-1]}\n"
           "    local command= options= valued= i\n"
           "    for ((i = 1; i < COMP_CWORD; i++)); do\n"
           "        case ${COMP_WORDS[i]} in -*) ;; *) command=${COMP_WORDS[i]}; break ;; esac\n"
           "    done\n"
           "    case $command in\n"
           "    '') COMPREPLY=($(compgen -W '" << Words(top) << "' -- \"$cur\")); return ;;\n";
    for (const CLI::App* command : Subcommands(app)) {
        std::vector<std::string> options, valued;
        for (const CLI::Option* option : VisibleOptions(*command, false))
            for (const std::string& name : OptionNames(option)) {
                options.push_back(name);
                if (TakesValue(option))
                    valued.push_back(name);
            }
        out << "    " << command->get_name() << ") options='" << Words(options) << "' valued=' " << Words(valued)
            << " ' ;;\n";
    }
    out << "    *) return ;;\n"
           "    esac\n"
           "    if [[ $prev == --codepage ]]; then\n"
           "        COMPREPLY=($(compgen -W '" << CodepageNumbers() << "' -- \"$cur\"))\n"
           "        return\n"
           "    fi\n"
           "    # Every other value the commands take is a file, a folder, or free text.\n"
           "    if [[ $valued == *\" $prev \"* || $cur != -* ]]; then\n"
           "        COMPREPLY=($(compgen -f -- \"$cur\"))\n"
           "    else\n"
           "        COMPREPLY=($(compgen -W \"$options\" -- \"$cur\"))\n"
           "    fi\n"
           "}\n"
           "complete -o filenames -F _stubkit stubkit\n";
    return out.str();
}

}  // namespace stubkit
