#include "stubkit/commands/installer_checks.h"

#include <algorithm>
#include <map>
#include <stdexcept>
#include <optional>
#include <vector>

#include "stubkit/container/install_names.h"
#include "stubkit/container/printable_text.h"
#include "stubkit/container/record_rules.h"
#include "stubkit/container/stub_identity.h"
#include "stubkit/pack/pack_plan.h"
#include "stubkit/pack/stub.h"

namespace stubkit {
namespace fs = std::filesystem;

namespace {

std::string FileNamed(const Codepage& codepage, const FileRecord& record)
{
    return "file " + Quoted(codepage.ToUtf8(record.name));
}

// The name as Windows compares it. The names the installer accepts hold no
// '/', no "." or ".." and no trailing dot or blank, so only letter case is
// left to fold.
std::string WindowsFileKey(const std::string& utf8_name)
{
    return FoldCaseUtf8(utf8_name);
}

}  // namespace

std::string VerdictMessage(const InstallerImage& image, const PayloadVerdict& verdict, const Codepage& codepage)
{
    if (verdict.refused_name)
        return FileNamed(codepage, image.records[*verdict.refused_name]) + " has a name the installer refuses: " +
               Printable(codepage.ToUtf8(
                   InstallerNameRefusal(image.records[*verdict.refused_name].name, codepage.LeadBytes())->reason)) +
               ": it would stop with \"" + kCorruptedFileMessage + "\" before extracting anything";
    if (verdict.damaged_file)
        return FileNamed(codepage, image.records[*verdict.damaged_file]) +
               " fails its CRC check: the installer would stop with \"" + kCorruptedFileMessage + "\"";
    if (!verdict.success)
        return std::to_string(verdict.bytes_remaining) + " of " + std::to_string(image.header.total_size) +
               " payload bytes never reached a file: the installer would stop with \"" + kIncompleteFileMessage + "\"";
    std::string message = Counted(image.header.file_count, "file") + ", " +
                          Counted(image.header.total_size, "byte") + ": all CRCs match";
    std::size_t swept = 0;
    while (swept < image.records.size() && image.records[image.records.size() - 1 - swept].file_size == 0)
        ++swept;
    if (swept > 0)
        message += " (" + Counted(swept, "empty file") + " after the stream's last byte)";
    return message;
}

std::string ProposedInstallDir(const InstallerConfig& config)
{
    const std::string folder = SlotTextAsRead(config.DefaultFolder).value_or("");
    return kTypicalBaseFolder + folder + (folder.empty() ? "" : "\\");
}

std::string InstallDirFor(const std::string& utf8_folder, const Codepage& codepage)
{
    std::optional<std::string> folder = codepage.FromUtf8(utf8_folder);
    if (!folder)
        throw std::invalid_argument("--folder " + Quoted(utf8_folder) + " cannot be written in code page " +
                                    std::to_string(codepage.Number()));
    std::replace(folder->begin(), folder->end(), '/', '\\');
    if (folder->empty() || folder->back() != '\\')
        *folder += '\\';
    return *folder;
}

namespace {

// UTF-16 units of a UTF-8 text: one per character, two beyond U+FFFF.
std::size_t Utf16Units(const std::string& utf8)
{
    std::size_t units = 0;
    for (const unsigned char byte : utf8)
        units += (byte & 0xC0) != 0x80 ? (byte >= 0xF0 ? 2 : 1) : 0;
    return units;
}

std::optional<RecordRefusal> FitRefusal(const FileRecord& record, const std::string& install_dir,
                                        const Codepage& codepage)
{
    const std::string name = FileNamed(codepage, record);
    const std::string under = " under " + Printable(Quoted(codepage.ToUtf8(install_dir)));
    const std::string path = install_dir + record.name;
    if (path.size() > kMaxPathText)
        return RecordRefusal{name + " does not fit" + under + ": the path takes " + std::to_string(path.size()) +
                                 " characters, at most 259 fit; the installer would stop with \"" +
                                 kCannotCreateMessage + "\"",
                             "path-too-long", kCannotCreateMessage};
    const std::vector<std::string> parts = SplitTableName(record.name, codepage.LeadBytes());
    std::string folder = install_dir;
    for (std::size_t i = 0; i < parts.size(); ++i) {
        const std::string utf8 = codepage.ToUtf8(parts[i]);
        if (Utf16Units(utf8) > kMaxNameLength || utf8.size() > kMaxNameLength)
            return RecordRefusal{name + ": '" + Printable(utf8) + "' takes " + std::to_string(Utf16Units(utf8)) +
                                     " UTF-16 characters and " + std::to_string(utf8.size()) +
                                     " UTF-8 bytes; a name takes at most 255 of each (Windows counts the first, "
                                     "the hosts that run it the second); the installer would stop with \"" +
                                     kCannotCreateMessage + "\"",
                                 "part-too-long", kCannotCreateMessage};
        folder += parts[i] + "\\";
        if (i + 1 < parts.size() && folder.size() - 1 > kMaxFolderPathText)
            return RecordRefusal{name + ": its folder takes " + std::to_string(folder.size() - 1) + " characters" +
                                     under + "; Windows creates folders of at most 247; the installer would stop "
                                     "with \"" + kCannotCreateMessage + "\"",
                                 "folder-too-long", kCannotCreateMessage};
    }
    return std::nullopt;
}

std::optional<RecordRefusal> NameRefusalOf(const FileRecord& record, const Codepage& codepage)
{
    if (const std::optional<NameRefusal> refusal = InstallerNameRefusal(record.name, codepage.LeadBytes()))
        return RecordRefusal{FileNamed(codepage, record) + " has a name the installer refuses: " +
                                 Printable(codepage.ToUtf8(refusal->reason)) +
                                 ": the installer would stop with \"" + refusal->installer_message + "\"",
                             refusal->rule, refusal->installer_message};
    if (!codepage.ToUtf8Exactly(record.name))
        return RecordRefusal{FileNamed(codepage, record) + " holds a byte or pair that code page " +
                                 std::to_string(codepage.Number()) +
                                 " leaves undefined, so which name Windows gives the file cannot be told",
                             "undefined-character", ""};
    return std::nullopt;
}

}  // namespace

std::vector<std::optional<RecordRefusal>> RecordRefusals(const std::vector<FileRecord>& records,
                                                         const Codepage& codepage,
                                                         const std::optional<std::string>& install_dir)
{
    std::vector<std::optional<RecordRefusal>> refusals(records.size());
    for (std::size_t i = 0; i < records.size(); ++i) {
        refusals[i] = NameRefusalOf(records[i], codepage);
        if (!refusals[i] && install_dir)
            refusals[i] = FitRefusal(records[i], *install_dir, codepage);
    }
    std::map<std::string, std::size_t> files;
    std::map<std::string, std::size_t> folders;
    for (std::size_t i = 0; i < records.size(); ++i) {
        if (refusals[i])
            continue;
        const std::string key = WindowsFileKey(codepage.ToUtf8(records[i].name));
        const auto [earlier, inserted] = files.emplace(key, i);
        if (!inserted)
            refusals[i] = RecordRefusal{FileNamed(codepage, records[i]) + " and " +
                                            FileNamed(codepage, records[earlier->second]) +
                                            " are one file on Windows (names equal but for letter case): the second "
                                            "would replace the first",
                                        "same-file", ""};
        for (std::size_t cut = key.rfind('\\'); cut != std::string::npos && cut > 0; cut = key.rfind('\\', cut - 1))
            folders.emplace(key.substr(0, cut), i);
    }
    for (const auto& [key, index] : files) {
        const auto folder = folders.find(key);
        if (folder != folders.end() && !refusals[index])
            refusals[index] = RecordRefusal{FileNamed(codepage, records[index]) + " is also the folder of " +
                                                FileNamed(codepage, records[folder->second]) +
                                                ": the installer would stop with \"" + kCannotCreateMessage + "\"",
                                            "file-is-folder", kCannotCreateMessage};
    }
    return refusals;
}

std::string TableNameProblem(const InstallerImage& image, const Codepage& codepage,
                             const std::optional<std::string>& install_dir)
{
    for (const std::optional<RecordRefusal>& refusal : RecordRefusals(image.records, codepage, install_dir))
        if (refusal)
            return refusal->message;
    return std::string();
}

std::string RecordOrStubProblem(const InstallerImage& image, const Codepage& codepage, const fs::path& stub)
{
    const std::vector<std::uint8_t> known = StubBytes(stub);
    const std::string difference = StubDifference(image, known.data(), known.size());
    if (!difference.empty())
        return "the program in front of the payload is not " +
               (stub.empty() ? std::string("the stub of this stubkit") : "the stub " + Quoted(stub)) + " (" +
               difference + "), so nothing can be promised about what it does" +
               (stub.empty() ? "; name the stub it was built with as --stub FILE" : "");
    const std::vector<std::string> problems = RecordProblems(image.config, image.records, codepage.LeadBytes());
    if (!problems.empty())
        return "configuration record: " + Printable(codepage.ToUtf8(problems.front())) +
               (problems.size() > 1 ? " (and " + std::to_string(problems.size() - 1) + " more)" : "");
    return std::string();
}

}  // namespace stubkit
