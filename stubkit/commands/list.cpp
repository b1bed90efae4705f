// stubkit list: an installer's record and file table as the installer reads
// them, for people or as JSON.
#include <cstdio>
#include <iostream>
#include <memory>
#include <sstream>

#include "stubkit/commands/command_line.h"
#include "stubkit/commands/commands.h"
#include "stubkit/commands/json_output.h"
#include "stubkit/commands/operations.h"
#include "stubkit/commands/signing_options.h"
#include "stubkit/container/printable_text.h"
#include "stubkit/container/record_rules.h"
#include "stubkit/container/stub_identity.h"
#include "stubkit/files/file_io.h"
#include "stubkit/files/file_times.h"
#include "stubkit/pack/embedded_stub.h"

namespace stubkit {
namespace {

struct ConfigView {
    std::vector<std::pair<std::string, std::string>> fields;
    std::vector<std::pair<std::string, std::string>> start_menu;
    std::vector<std::pair<std::string, std::string>> desktop;
};

// A text slot as the installer reads it; one without a NUL in its 260 text
// bytes is shown by its first 259, as the setup window would show a title.
std::string TextAsShown(const char* slot)
{
    return SlotTextAsRead(slot).value_or(std::string(slot, ConfigTextCapacity - 1));
}

std::vector<std::pair<std::string, std::string>> ShortcutRowsAsRead(const ShortcutEntry* table,
                                                                    const Codepage& codepage)
{
    std::vector<std::pair<std::string, std::string>> rows;
    const int count = CountShortcutRows(table);
    for (int i = 0; i < count; ++i)
        rows.emplace_back(codepage.ToUtf8(TextAsShown(table[i].LinkName)),
                          codepage.ToUtf8(TextAsShown(table[i].TargetFile)));
    return rows;
}

ConfigView ViewConfig(const InstallerImage& image, const Codepage& codepage)
{
    const InstallerConfig& config = image.config;
    ConfigView view;
    view.fields = {{"StubSize", codepage.ToUtf8(StubSizeTextAsRead(config))},
                   {"Title", codepage.ToUtf8(TextAsShown(config.Title))},
                   {"DefaultFolder", codepage.ToUtf8(TextAsShown(config.DefaultFolder))},
                   {"ProgramGroup", codepage.ToUtf8(TextAsShown(config.ProgramGroup))},
                   {"RunAfterInstall", codepage.ToUtf8(TextAsShown(config.RunAfterInstall))}};
    view.start_menu = ShortcutRowsAsRead(config.StartMenuShortcuts, codepage);
    view.desktop = ShortcutRowsAsRead(config.DesktopShortcuts, codepage);
    return view;
}

std::string Hex32(std::uint32_t value)
{
    char text[16];
    std::snprintf(text, sizeof text, "%08X", value);
    return text;
}

std::string SecondsOnly(std::uint64_t filetime)
{
    // "YYYY-MM-DD hh:mm:ss.fffffff UTC", where a year after 9999 has more digits.
    const std::string full = FormatFiletime(filetime);
    return full.substr(0, full.find('.'));
}

Json ShortcutsAsJson(const std::vector<std::pair<std::string, std::string>>& rows)
{
    Json array = Json::array();
    for (const auto& [link, target] : rows)
        array.push_back({{"LinkName", link}, {"TargetFile", target}});
    return array;
}

// The stream runs to the end of the file, or to the signature behind it.
std::uint64_t StreamSize(const InstallerImage& image, const SignatureReport& signature)
{
    const bool signature_behind = signature.present && signature.table_offset >= image.stream_offset &&
                                  signature.table_offset <= image.file_size;
    return (signature_behind ? signature.table_offset : image.file_size) - image.stream_offset;
}

// Whose program stands in front of the payload, in words.
std::string StubOrigin(const InstallerImage& image)
{
    const std::string difference = StubDifference(image, kEmbeddedStub, kEmbeddedStubSize);
    return difference.empty() ? "the stub of this stubkit" : "unknown: " + difference;
}

std::string DescribeAsJson(const InstallerImage& image, const Codepage& codepage, const ConfigView& view,
                           const SignatureReport& signature)
{
    Json config = Json::object();
    for (const auto& [name, value] : view.fields)
        config[name] = value;
    config["StartMenuShortcuts"] = ShortcutsAsJson(view.start_menu);
    config["DesktopShortcuts"] = ShortcutsAsJson(view.desktop);
    Json files = Json::array();
    for (const FileRecord& record : image.records) {
        files.push_back({
            {"name", codepage.ToUtf8(record.name)},
            {"size", record.file_size},
            {"crc_value", Hex32(record.crc_value)},
            {"creation_time", FormatFiletime(record.creation_time)},
            {"access_time", FormatFiletime(record.access_time)},
            {"write_time", FormatFiletime(record.write_time)},
            {"creation_filetime", record.creation_time},
            {"access_filetime", record.access_time},
            {"write_filetime", record.write_time}});
    }
    return JsonText({{"installer", image.path.u8string()},
                     {"installer_size", image.file_size},
                     {"config", std::move(config)},
                     {"file_count", image.header.file_count},
                     {"total_size", image.header.total_size},
                     {"table_size", image.header.table_size},
                     {"header_problem", HeaderInconsistency(image)},
                     {"stream_size", StreamSize(image, signature)},
                     {"stub", StubOrigin(image)},
                     {"signature", SignatureAsJson(signature)},
                     {"files", std::move(files)}});
}

void PrintShortcuts(std::ostringstream& out, const char* label,
                    const std::vector<std::pair<std::string, std::string>>& rows)
{
    char line[64];
    std::snprintf(line, sizeof line, "%-17s", label);
    if (rows.empty())
        out << line << "(none)\n";
    for (std::size_t i = 0; i < rows.size(); ++i)
        out << (i == 0 ? std::string(line) : std::string(17, ' ')) << Quoted(rows[i].first) << " -> "
            << Quoted(rows[i].second) << "\n";
}

std::string DescribeAsText(const InstallerImage& image, const Codepage& codepage, const ConfigView& view,
                           const SignatureReport& signature)
{
    std::ostringstream out;
    out << Printable(image.path.u8string()) << ": " << image.file_size << " bytes\n";
    for (const auto& [name, value] : view.fields) {
        char label[32];
        std::snprintf(label, sizeof label, "%-17s", name.c_str());
        out << label << Quoted(value) << "\n";
    }
    PrintShortcuts(out, "StartMenu", view.start_menu);
    PrintShortcuts(out, "Desktop", view.desktop);
    out << "Payload          " << Counted(image.header.file_count, "file") << ", "
        << Counted(image.header.total_size, "byte") << "; table " << image.header.table_size << " bytes; stream " << StreamSize(image, signature)
        << " bytes\n";
    out << "Stub             " << StubOrigin(image) << "\n";
    // A header whose count or sizes the table contradicts: the installer
    // would stop part-way, so it is shown where the header is.
    if (const std::string problem = HeaderInconsistency(image); !problem.empty())
        out << "                 ! " << problem << "\n";
    out << "Signature        " << DescribeSignature(signature) << "\n\n";
    char line[200];
    std::snprintf(line, sizeof line, "%12s  %-8s  %-19s  %-19s  %-19s  %s\n", "Size", "CRC",
                  "Created (UTC)", "Accessed (UTC)", "Written (UTC)", "Name");
    out << line;
    for (const FileRecord& record : image.records) {
        std::snprintf(line, sizeof line, "%12u  %-8s  %-19s  %-19s  %-19s  ", record.file_size,
                      Hex32(record.crc_value).c_str(), SecondsOnly(record.creation_time).c_str(),
                      SecondsOnly(record.access_time).c_str(), SecondsOnly(record.write_time).c_str());
        out << line << Printable(codepage.ToUtf8(record.name)) << "\n";
    }
    return out.str();
}

}  // namespace

std::string DescribeInstaller(const InstallerImage& image, const Codepage& codepage, bool json,
                              const SignatureReport& signature)
{
    const ConfigView view = ViewConfig(image, codepage);
    return json ? DescribeAsJson(image, codepage, view, signature) : DescribeAsText(image, codepage, view, signature);
}

namespace {

struct ListOptions {
    std::filesystem::path setup;
    bool json = false;
    int codepage = kDefaultCodepage;
    Verbosity verbosity;
    SignatureCheckOptions signature;
};

// Where the parts of the file lie, for those who look at its bytes.
std::string Layout(const InstallerImage& image)
{
    std::ostringstream out;
    out << "\nLayout           stub at 0, header at " << image.stub_size << ", table at "
        << image.stub_size + kPayloadHeaderSize << ", stream at " << image.stream_offset << ", end at "
        << image.file_size << "\n";
    return out.str();
}

void RunList(const ListOptions& options)
{
    const Codepage codepage(options.codepage);
    const InstallerInput input(options.setup);
    InstallerImage image;
    try {
        image = ReadInstallerImage(input.Path());
    } catch (const FormatError& error) {
        throw FormatError(input.Named(error.what()));
    }
    image.path = options.setup;
    if (options.verbosity.quiet && !options.json) {
        for (const FileRecord& record : image.records)
            std::cout << Printable(codepage.ToUtf8(record.name)) << "\n";
        return;
    }
    std::cout << DescribeInstaller(image, codepage, options.json, InspectSignature(input.Path(), options.signature.ca_file));
    if (options.verbosity.verbose && !options.json)
        std::cout << Layout(image);
}

}  // namespace

void AddListCommand(CLI::App& app)
{
    auto options = std::make_shared<ListOptions>();
    CLI::App* command = app.add_subcommand("list", "Show an installer's configuration and its files");
    command->footer("Shortcut rows are shown as the installer reads them (up to the first empty link).\n"
                    "Times are UTC: creation, last access, last write.");
    AddPathOption(*command, "SETUP", options->setup, "Installer to inspect ('-': standard input)")
        ->required()
        ->check(RegularFile(true));
    command->add_flag("--json", options->json, "Print JSON for machines instead of tables (see the manual page)");
    AddVerbosityFlags(*command, options->verbosity, "Print only the file names, one per line, in the packed order",
                      "Also print where the stub, header, table and stream lie in the file");
    AddCodepageOption(*command, options->codepage, "ANSI code page the names are in (default 1252)");
    AddSignatureCheckOptions(*command, options->signature, false);
    command->callback([options] { RunList(*options); });
}

}  // namespace stubkit
