#include "stubkit/commands/installer_checks.h"

#include <map>
#include <optional>
#include <vector>

#include "stubkit/container/install_names.h"
#include "stubkit/container/printable_text.h"
#include "stubkit/container/record_rules.h"
#include "stubkit/container/stub_identity.h"
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
               Printable(codepage.ToUtf8(InstallerNameRefusal(image.records[*verdict.refused_name].name)->reason)) +
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

std::string TableNameProblem(const InstallerImage& image, const Codepage& codepage)
{
    for (const FileRecord& record : image.records) {
        const std::optional<NameRefusal> refusal = InstallerNameRefusal(record.name);
        if (refusal)
            return FileNamed(codepage, record) + " has a name the installer refuses: " +
                   Printable(codepage.ToUtf8(refusal->reason)) +
                   (refusal->installer_message
                        ? std::string(": the installer would stop with \"") + refusal->installer_message + "\""
                        : std::string());
    }
    std::map<std::string, const FileRecord*> files;
    std::map<std::string, const FileRecord*> folders;
    for (const FileRecord& record : image.records) {
        const std::string key = WindowsFileKey(codepage.ToUtf8(record.name));
        const auto [earlier, inserted] = files.emplace(key, &record);
        if (!inserted)
            return FileNamed(codepage, record) + " and " + FileNamed(codepage, *earlier->second) +
                   " are one file on Windows (names equal but for letter case): the second would replace the first";
        for (std::size_t cut = key.rfind('\\'); cut != std::string::npos && cut > 0; cut = key.rfind('\\', cut - 1))
            folders.emplace(key.substr(0, cut), &record);
    }
    for (const auto& [key, record] : files) {
        const auto folder = folders.find(key);
        if (folder != folders.end())
            return FileNamed(codepage, *record) + " is also the folder of " + FileNamed(codepage, *folder->second) +
                   ": the installer would stop with \"" + kCannotCreateMessage + "\"";
    }
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
    const std::vector<std::string> problems = RecordProblems(image.config, image.records);
    if (!problems.empty())
        return "configuration record: " + Printable(codepage.ToUtf8(problems.front())) +
               (problems.size() > 1 ? " (and " + std::to_string(problems.size() - 1) + " more)" : "");
    return std::string();
}

}  // namespace stubkit
