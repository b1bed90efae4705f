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

toml::array ShortcutsAsArray(const std::vector<std::pair<std::string, std::string>>& rows)
{
    toml::array array;
    for (const auto& [link, target] : rows)
        array.push_back(toml::table{{"LinkName", link}, {"TargetFile", target}});
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
    toml::table config;
    for (const auto& [name, value] : view.fields)
        config.insert(name, value);
    config.insert("StartMenuShortcuts", ShortcutsAsArray(view.start_menu));
    config.insert("DesktopShortcuts", ShortcutsAsArray(view.desktop));
    toml::array files;
    for (const FileRecord& record : image.records) {
        files.push_back(toml::table{
            {"name", codepage.ToUtf8(record.name)},
            {"size", static_cast<std::int64_t>(record.file_size)},
            {"crc_value", Hex32(record.crc_value)},
            {"creation_time", FormatFiletime(record.creation_time)},
            {"access_time", FormatFiletime(record.access_time)},
            {"write_time", FormatFiletime(record.write_time)},
            {"creation_filetime", static_cast<std::int64_t>(record.creation_time)},
            {"access_filetime", static_cast<std::int64_t>(record.access_time)},
            {"write_filetime", static_cast<std::int64_t>(record.write_time)}});
    }
    toml::table root{
        {"installer", image.path.string()},
        {"installer_size", static_cast<std::int64_t>(image.file_size)},
        {"config", std::move(config)},
        {"file_count", static_cast<std::int64_t>(image.header.file_count)},
        {"total_size", static_cast<std::int64_t>(image.header.total_size)},
        {"table_size", static_cast<std::int64_t>(image.header.table_size)},
        {"header_problem", HeaderInconsistency(image)},
        {"stream_size", static_cast<std::int64_t>(StreamSize(image, signature))},
        {"stub", StubOrigin(image)},
        {"signature", SignatureAsTable(signature)},
        {"files", std::move(files)}};
    return JsonText(root);
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
    out << Printable(image.path.string()) << ": " << image.file_size << " bytes\n";
    for (const auto& [name, value] : view.fields) {
        char label[32];
        std::snprintf(label, sizeof label, "%-17s", name.c_str());
        out << label << Quoted(value) << "\n";
    }
    PrintShortcuts(out, "StartMenu", view.start_menu);
    PrintShortcuts(out, "Desktop", view.desktop);
    out << "Payload          " << image.header.file_count << " files, " << image.header.total_size
        << " bytes; table " << image.header.table_size << " bytes; stream " << StreamSize(image, signature)
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
    AddCodepageOption(*command, options->codepage, "ANSI code page the names are in (default 1252)");
    AddSignatureCheckOptions(*command, options->signature, false);
    command->callback([options] { RunList(*options); });
}

}  // namespace stubkit
