#include "stubkit/pack_plan.h"

#include "stubkit/container/printable_text.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <map>
#include <set>

#include "payload/name_rules.h"
#include "stubkit/container/install_names.h"
#include "stubkit/container/record_rules.h"

namespace stubkit {
namespace {

std::string JoinLines(const std::vector<std::string>& lines)
{
    std::string text;
    for (const std::string& line : lines)
        text += (text.empty() ? "" : "\n") + line;
    return text;
}

std::vector<std::string> SplitBackslash(const std::string& path)
{
    std::vector<std::string> parts;
    std::size_t start = 0;
    for (;;) {
        const std::size_t end = path.find('\\', start);
        parts.push_back(path.substr(start, end - start));
        if (end == std::string::npos)
            return parts;
        start = end + 1;
    }
}

std::string Backslashes(std::string path)
{
    std::replace(path.begin(), path.end(), '/', '\\');
    return path;
}

std::string UpperAscii(std::string text)
{
    for (char& c : text)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

std::string Quote(const std::string& text)
{
    return Quoted(text);
}

// The first control character of a UTF-8 text, named for a message; a NUL
// would cut the text short in the installer's slot, the others garble what
// the user sees.
std::string ControlCharacter(const std::string& utf8)
{
    for (std::size_t i = 0; i < utf8.size(); ++i) {
        const auto byte = static_cast<unsigned char>(utf8[i]);
        const bool c1 = byte == 0xC2 && i + 1 < utf8.size() && static_cast<unsigned char>(utf8[i + 1]) >= 0x80 &&
                        static_cast<unsigned char>(utf8[i + 1]) <= 0x9F;
        if (byte == 0)
            return "a NUL character";
        if (byte < 0x20 || byte == 0x7F || c1) {
            char text[48];
            std::snprintf(text, sizeof text, "the control character U+%04X",
                          c1 ? static_cast<unsigned char>(utf8[i + 1]) : byte);
            return text;
        }
    }
    return std::string();
}

// The UTF-8 character at `at`: its code point and length; a length of 0 when
// the bytes there are not UTF-8.
struct Utf8Character {
    std::uint32_t code_point = 0;
    std::size_t length = 0;
};

Utf8Character CharacterAt(const std::string& utf8, std::size_t at)
{
    const auto lead = static_cast<unsigned char>(utf8[at]);
    const std::size_t length = lead < 0x80 ? 1 : lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 0;
    if (length == 0 || at + length > utf8.size())
        return {};
    std::uint32_t code_point = length == 1 ? lead : lead & (0x7F >> length);
    for (std::size_t i = 1; i < length; ++i) {
        const auto byte = static_cast<unsigned char>(utf8[at + i]);
        if ((byte & 0xC0) != 0x80)
            return {};
        code_point = code_point << 6 | (byte & 0x3F);
    }
    return {code_point, length};
}

std::string HexBytes(const std::string& bytes)
{
    std::string text;
    for (unsigned char byte : bytes) {
        char hex[4];
        std::snprintf(hex, sizeof hex, "%02X", byte);
        text += (text.empty() ? "" : " ") + std::string(hex);
    }
    return text;
}

// The first character of `utf8` that the code page cannot carry into a name,
// named with its position (counted in characters from 1): one the code page
// lacks, or one whose bytes there hold a backslash or '/' that Windows would
// take for a separator. Empty when there is none.
std::string CharacterProblem(const Codepage& codepage, const std::string& utf8)
{
    const std::string page = "code page " + std::to_string(codepage.Number());
    std::size_t position = 1;
    for (std::size_t at = 0; at < utf8.size(); ++position) {
        const Utf8Character character = CharacterAt(utf8, at);
        if (character.length == 0)
            return Quote(utf8) + " is not valid UTF-8 at byte " + std::to_string(at + 1);
        const std::string text = utf8.substr(at, character.length);
        char name[48];
        std::snprintf(name, sizeof name, "U+%04X ", character.code_point);
        const std::string named = name + Quote(text) + " at " + std::to_string(position) + " in " + Quote(utf8);
        const std::optional<std::string> ansi = codepage.FromUtf8(text);
        if (!ansi)
            return named + " is not in " + page;
        if (character.length > 1 && ansi->find_first_of("\\/") != std::string::npos)
            return named + " is " + HexBytes(*ansi) + " in " + page + ", bytes that hold a " +
                   (ansi->find('\\') != std::string::npos ? "backslash" : "'/'") +
                   ", which Windows would take for a folder separator";
        at += character.length;
    }
    return std::string();
}

// Converts one text to ANSI, reporting characters the code page lacks.
class Converter {
public:
    Converter(const Codepage& codepage, std::vector<std::string>& problems)
        : codepage_(codepage), problems_(problems)
    {
    }

    // A path converted part by part, so that a double-byte character whose
    // second byte is a backslash cannot pass for a separator.
    std::string Path(const std::string& utf8, const std::string& field)
    {
        if (const std::string control = ControlCharacter(utf8); !control.empty()) {
            problems_.push_back(field + ": contains " + control + ", which no name or title may hold");
            return std::string();
        }
        std::string ansi;
        bool first = true;
        for (const std::string& part : SplitBackslash(utf8)) {
            std::optional<std::string> converted = codepage_.FromUtf8(part);
            if (!converted || converted->find('\\') != std::string::npos ||
                std::count(converted->begin(), converted->end(), '/') != std::count(part.begin(), part.end(), '/')) {
                const std::string problem = CharacterProblem(codepage_, utf8);
                problems_.push_back(field + ": " + (problem.empty() ? Quote(utf8) + " cannot be written in code page " +
                                                                          std::to_string(codepage_.Number())
                                                                    : problem));
                return std::string();
            }
            ansi += (first ? "" : "\\") + *converted;
            first = false;
        }
        return ansi;
    }

    std::string Utf8(const std::string& ansi) const { return codepage_.ToUtf8(ansi); }

private:
    const Codepage& codepage_;
    std::vector<std::string>& problems_;
};

class Planner {
public:
    Planner(const ProductConfig& config, const Codepage& codepage, std::vector<std::string>& problems)
        : config_(config), problems_(problems), convert_(codepage, problems)
    {
    }

    ProductTexts Texts()
    {
        ProductTexts texts;
        const std::size_t title_mark = problems_.size();
        texts.title = convert_.Path(config_.title, "title");
        if (config_.title.empty())
            problems_.push_back("title: must not be empty");
        else if (texts.title.size() > MaxTitleLength)
            problems_.push_back("title: " + std::to_string(texts.title.size()) +
                                " characters; at most 207 fit the uninstall registry key");
        // The title ends the uninstall registry key's path: a backslash would
        // make a nested key that the uninstaller removes only in part.
        if (config_.title.find('\\') != std::string::npos)
            problems_.push_back("title: must not contain a backslash (it names a registry key)");
        const bool title_faulty = problems_.size() > title_mark;
        texts.default_folder =
            DefaultedFolderField(config_.default_folder, "default_folder", config_.default_folder_from_title, title_faulty);
        const std::size_t group_mark = problems_.size();
        texts.program_group =
            DefaultedFolderField(config_.program_group, "program_group", config_.program_group_from_title, title_faulty);
        const bool group_faulty = problems_.size() > group_mark || (config_.program_group_from_title && title_faulty);
        if (!group_faulty && texts.program_group.find('\\') != std::string::npos && !config_.start_menu.empty())
            problems_.push_back("program_group: " + Quote(Backslashes(config_.program_group)) +
                                " is more than one folder deep (a '/' in the title it defaults to counts too); "
                                "the installer creates only the last folder of a group, so no Start-menu "
                                "shortcut is made where the folders above it do not exist; name one folder");
        texts.run_after_install = Field(config_.run_after_install, "run_after_install");
        // A faulty group is reported once, not again with every link's path.
        texts.start_menu = Rows(config_.start_menu, "start_menu", group_faulty ? std::string() : texts.program_group);
        // Without a group the links' paths hold a doubled backslash, and the
        // uninstaller's climb from them must meet the Programs folder itself.
        if (config_.program_group.empty() && !config_.start_menu.empty() &&
            !(config_.program_group_from_title && title_faulty))
            problems_.push_back("program_group: must not be empty when there are start_menu shortcuts");
        texts.desktop = Rows(config_.desktop, "desktop", std::string());
        return texts;
    }

    std::vector<FileRecord> Records(const std::vector<SourceFile>& files, std::uint64_t& total)
    {
        std::vector<FileRecord> records;
        std::map<std::string, std::string> seen_files;     // folded name -> name
        std::map<std::string, std::string> seen_folders;   // folded folder -> first spelling
        std::set<std::string> warned_folders;
        std::uint64_t table_size = 0;
        total = 0;
        for (const SourceFile& file : files) {
            const std::string field = "file " + Quote(file.name);
            FileRecord record;
            record.name = convert_.Path(file.name, field);
            CheckFileName(file.name, record.name, field);
            if (file.size > kMaxFileSize)
                problems_.push_back(field + ": " + std::to_string(file.size) +
                                    " bytes; the installer takes files below 2^31 bytes");
            record.file_size = static_cast<std::uint32_t>(std::min(file.size, kMaxFileSize));
            record.creation_time = file.times.creation;
            record.access_time = file.times.access;
            record.write_time = file.times.write;
            total += file.size;
            table_size += RecordSize(record);
            CheckCaseCollisions(file.name, seen_files, seen_folders, warned_folders);
            records.push_back(std::move(record));
        }
        if (table_size > kFileTableCapacity)
            problems_.push_back("source: the file table takes " + std::to_string(table_size) +
                                " bytes for " + std::to_string(files.size()) +
                                " files; the installer holds at most 131072");
        if (total > kMaxTotalSize)
            problems_.push_back("source: the files total " + std::to_string(total) +
                                " bytes; the installer takes less than 2^32");
        return records;
    }

    std::vector<std::string> warnings;

private:
    // Every field ends up in a path or a registry key, so each is converted
    // as a path.
    std::string Field(const std::string& value, const std::string& field)
    {
        std::string ansi = convert_.Path(value, field);
        if (ansi.size() > kMaxPathText)
            problems_.push_back(field + ": " + std::to_string(ansi.size()) +
                                " characters; at most 259 fit");
        return ansi;
    }

    // '/' separates folders on Windows too, but the installer creates
    // folders at '\\' only: the field is written with backslashes.
    std::string FolderField(const std::string& value, const std::string& field)
    {
        const std::string folders = Backslashes(value);
        std::string ansi = Field(folders, field);
        if (ansi.empty())   // empty, or already reported as unconvertible
            return ansi;
        const std::string problem = PartsProblem(folders, ansi);
        if (!problem.empty())
            problems_.push_back(field + ": " + Quote(value) + ": " + problem);
        return ansi;
    }

    // The first part of a backslash-separated name that Windows would not
    // create as it reads, in words: judged in UTF-8 for the message, and in
    // the code page for what the installer sees (superscript port digits).
    std::string PartsProblem(const std::string& utf8, const std::string& ansi)
    {
        const std::vector<std::string> utf8_parts = SplitBackslash(utf8);
        const std::vector<std::string> ansi_parts = SplitBackslash(ansi);
        for (std::size_t i = 0; i < utf8_parts.size(); ++i) {
            std::string problem = WindowsNameProblem(utf8_parts[i]);
            if (problem.empty() && i < ansi_parts.size())
                problem = NamePartProblem(ansi_parts[i]);
            if (!problem.empty())
                return Quote(utf8_parts[i]) + " " + problem;
        }
        return std::string();
    }

    // A field left out takes the title: a fault of the title is reported
    // once, for the title, and the field's own faults name where it came from.
    std::string DefaultedFolderField(const std::string& value, const std::string& field, bool from_title,
                                     bool title_faulty)
    {
        const std::size_t mark = problems_.size();
        std::string ansi = FolderField(value, from_title ? field + " (the title, as it is not given)" : field);
        if (from_title && title_faulty)
            problems_.resize(mark);
        return ansi;
    }

    std::vector<ShortcutRow> Rows(const std::vector<ShortcutConfig>& rows, const std::string& table,
                                  const std::string& program_group)
    {
        if (rows.size() > ShortcutRows)
            problems_.push_back(table + ": " + std::to_string(rows.size()) +
                                " shortcuts; the installer has room for 16");
        std::vector<ShortcutRow> result;
        std::map<std::string, std::string> links;   // folded link -> the row's field
        for (std::size_t i = 0; i < rows.size() && i < ShortcutRows; ++i) {
            const std::string field = table + "[" + std::to_string(i) + "]";
            ShortcutRow row;
            row.link = Field(rows[i].link, field + ".link");
            row.target = Field(rows[i].target, field + ".target");
            if (rows[i].target.empty())
                problems_.push_back(field + ".target: must not be empty; it names the packed file the shortcut opens");
            else if (const NameFault fault = JudgeTableName(row.target.data(), static_cast<unsigned>(row.target.size()));
                     !row.target.empty() && fault != NameInstallable && fault != NameInstallerOwn)
                problems_.push_back(field + ".target: " + Quote(rows[i].target) + ": " +
                                    convert_.Utf8(InstallerNameRefusal(row.target)->reason));
            const auto [earlier, first] = links.emplace(FoldCaseUtf8(rows[i].link), field);
            if (!first && !rows[i].link.empty())
                problems_.push_back(field + ".link: " + Quote(rows[i].link) + " is the link of " + earlier->second +
                                    " but for letter case; on Windows the second shortcut would replace the first");
            if (rows[i].link.empty()) {
                problems_.push_back(field + ".link: must not be empty (an empty link ends the table)");
            } else {
                const std::string problem = rows[i].link.find_first_of("\\/") != std::string::npos
                                                ? Quote(rows[i].link) + " must be a plain file name, without folders"
                                                : PartsProblem(rows[i].link, row.link);
                if (!problem.empty())
                    problems_.push_back(field + ".link: " + problem);
            }
            if (!program_group.empty() && program_group.size() + 1 + row.link.size() > kMaxPathText)
                problems_.push_back(field + ".link: program_group, a backslash and the link take " +
                                    std::to_string(program_group.size() + 1 + row.link.size()) +
                                    " characters; at most 259 fit");
            result.push_back(row);
        }
        return result;
    }

    void CheckFileName(const std::string& utf8, const std::string& ansi, const std::string& field)
    {
        // The installer writes its uninstaller and data file into the same
        // folder: a packed file of either name would replace the uninstaller
        // or stop the installation half-way.
        if (ansi.size() > kMaxNameLength)
            problems_.push_back(field + ": the name takes " + std::to_string(ansi.size()) +
                                " bytes; at most 255 fit the file table");
        for (const char* own : {kUninstallerName, kUninstallLogName})
            if (UpperAscii(utf8) == UpperAscii(own)) {
                problems_.push_back(field + ": the installer writes its own '" + own + "' there");
                return;
            }
        const std::string problem = PartsProblem(utf8, ansi);
        if (!problem.empty())
            problems_.push_back(field + ": " + problem);
    }

    // Windows compares names without regard to case: two files that differ
    // only in case would be one file, the second overwriting the first.
    // Folders merge harmlessly, which is worth a warning only.
    void CheckCaseCollisions(const std::string& name, std::map<std::string, std::string>& seen_files,
                             std::map<std::string, std::string>& seen_folders,
                             std::set<std::string>& warned_folders)
    {
        const std::string folded = FoldCaseUtf8(name);
        auto [file, inserted] = seen_files.emplace(folded, name);
        if (!inserted)
            problems_.push_back("file " + Quote(name) + ": same name as " + Quote(file->second) +
                                " but for letter case; on Windows the second would overwrite the first");
        std::string folder = name;
        for (std::size_t cut = folder.rfind('\\'); cut != std::string::npos; cut = folder.rfind('\\')) {
            folder.resize(cut);
            auto [spelling, first] = seen_folders.emplace(FoldCaseUtf8(folder), folder);
            if (!first && spelling->second != folder && warned_folders.insert(folder).second)
                warnings.push_back("folders " + Quote(spelling->second) + " and " + Quote(folder) +
                                   " differ only in letter case; Windows merges them into one");
        }
    }

    const ProductConfig& config_;
    std::vector<std::string>& problems_;
    Converter convert_;
};

// The end of the program part of a run-after command line. The installer
// quotes the longest leading part, ending at a blank or at the end, that
// names an installed file; failing one, the first word.
std::size_t ProgramPartEnd(const std::string& command, const std::set<std::string>& packed)
{
    for (std::size_t end = command.size(); end > 0; --end)
        if ((end == command.size() || command[end] == ' ') && packed.count(UpperAscii(Backslashes(command.substr(0, end)))))
            return end;
    return std::min(command.find(' '), command.size());
}

std::set<std::string> PackedNames(const std::vector<FileRecord>& records)
{
    std::set<std::string> packed = {UpperAscii(kUninstallerName)};
    for (const FileRecord& record : records)
        packed.insert(UpperAscii(record.name));
    return packed;
}

// Only the program's '/' are separators; its arguments are kept as written
// ("bin/app.exe /S" runs bin\app.exe with the argument /S).
std::string RunAfterWithBackslashes(const std::string& command, const std::set<std::string>& packed)
{
    const std::size_t end = ProgramPartEnd(command, packed);
    return Backslashes(command.substr(0, end)) + command.substr(end);
}


void WarnAboutTargets(const ProductTexts& texts, const std::vector<FileRecord>& records,
                      std::vector<std::string>& warnings)
{
    const std::set<std::string> packed = PackedNames(records);
    auto check_rows = [&](const std::vector<ShortcutRow>& rows, const std::string& table) {
        for (std::size_t i = 0; i < rows.size(); ++i) {
            const std::string field = table + "[" + std::to_string(i) + "].target: " + Quote(rows[i].target);
            if (!rows[i].target.empty() && !packed.count(UpperAscii(rows[i].target)))
                warnings.push_back(field + " names no packed file");
        }
    };
    check_rows(texts.start_menu, "start_menu");
    check_rows(texts.desktop, "desktop");
    auto check_extensions = [&](const std::vector<ShortcutRow>& rows, const std::string& table) {
        for (std::size_t i = 0; i < rows.size(); ++i) {
            const std::string& link = rows[i].link;
            if (link.size() < 4 || UpperAscii(link.substr(link.size() - 4)) != ".LNK")
                warnings.push_back(table + "[" + std::to_string(i) + "].link: " + Quote(link) +
                                   " does not end in .lnk; Windows will not treat the file as a shortcut");
        }
    };
    check_extensions(texts.start_menu, "start_menu");
    check_extensions(texts.desktop, "desktop");
}

void WarnAboutLongPaths(const ProductTexts& texts, const std::vector<FileRecord>& records,
                        std::vector<std::string>& warnings)
{
    std::string install_dir = kTypicalBaseFolder + texts.default_folder;
    if (!texts.default_folder.empty())
        install_dir += '\\';
    std::size_t too_long = 0;
    const FileRecord* longest = nullptr;
    for (const FileRecord& record : records) {
        if (install_dir.size() + record.name.size() <= kMaxPathText)
            continue;
        ++too_long;
        if (!longest || record.name.size() > longest->name.size())
            longest = &record;
    }
    if (longest)
        warnings.push_back(std::to_string(too_long) + " file(s) would exceed 259 characters under " +
                           Quote(install_dir) + ", e.g. " + Quote(longest->name) +
                           "; a user who keeps the default folder gets a failed installation");
}

}  // namespace

ValidationError::ValidationError(std::vector<std::string> problems, std::size_t config_problems)
    : std::runtime_error(JoinLines(problems)), problems_(std::move(problems)), config_problems_(config_problems)
{
}

std::string ValidationError::Summary(const std::filesystem::path& config) const
{
    const std::string all = std::to_string(problems_.size()) + " problem(s)";
    const std::string in_config = " in " + Quote(config.string());
    if (config_problems_ == 0)
        return all;
    if (config_problems_ == problems_.size())
        return all + in_config;
    return all + ", " + std::to_string(config_problems_) + " of them" + in_config;
}

std::string WindowsNameProblem(const std::string& component)
{
    // The shared rule decides; the cases below only word it better.
    if (component.empty())
        return "has an empty name";
    if (component == "." || component == "..")
        return "is not a name but a relative folder reference";
    for (unsigned char c : component) {
        if (c < 0x20)
            return "contains a control character";
        if (std::string("<>:\"|?*").find(static_cast<char>(c)) != std::string::npos)
            return std::string("contains the character '") + static_cast<char>(c) +
                   "', which Windows does not allow in names";
    }
    if (component.back() == '.' || component.back() == ' ')
        return "ends in a dot or a blank, which Windows removes";
    if (IsDeviceName(component.data(), static_cast<unsigned>(component.size())))
        return "is a reserved device name on Windows";
    return NamePartProblem(component);
}

Stub CheckStub(std::vector<std::uint8_t> bytes, const std::string& origin,
               std::vector<std::string>& problems)
{
    Stub stub;
    if (bytes.size() > kStubSizeLimit)
        problems.push_back("stub " + origin + ": " + std::to_string(bytes.size()) +
                           " bytes; the installer reads at most 131072");
    const std::optional<std::size_t> offset = FindConfigRecord(bytes);
    if (!offset) {
        problems.push_back("stub " + origin + ": no configuration record found; is it a stubkit stub?");
    } else {
        const InstallerConfig config = ReadConfigRecord(bytes, *offset);
        if (ConfiguredStubSize(&config) != 0)
            problems.push_back("stub " + origin + ": already configured (StubSize is " +
                               SlotText(config.StubSize) + "); use the unpatched stub");
        stub.record_offset = *offset;
    }
    stub.bytes = std::move(bytes);
    return stub;
}

PackPlan PlanPackage(const ProductConfig& config, std::vector<SourceFile> files,
                     const Codepage& codepage, std::vector<std::string>& problems)
{
    PackPlan plan;
    // The extraction rules open a file only when bytes arrive for it; an
    // empty file after the stream's last byte is reached only if the
    // installer sweeps such files up at the end. Empty files go first, so
    // they are reached on the way; the order stays the sorted one otherwise.
    std::stable_partition(files.begin(), files.end(), [](const SourceFile& file) { return file.size == 0; });
    Planner planner(config, codepage, problems);
    const std::size_t mark = problems.size();
    plan.texts = planner.Texts();
    plan.config_problems = problems.size() - mark;
    plan.records = planner.Records(files, plan.total_size);
    plan.texts.run_after_install = RunAfterWithBackslashes(plan.texts.run_after_install, PackedNames(plan.records));
    // The installer starts nothing for a command whose program it did not install.
    if (!plan.texts.run_after_install.empty() && !RunAfterProgramEnd(plan.texts.run_after_install, plan.records))
        problems.push_back("run_after_install: " + Quoted(config.run_after_install) +
                           " does not start with a packed program; the installer would start nothing");
    plan.files = std::move(files);
    plan.warnings = std::move(planner.warnings);
    WarnAboutTargets(plan.texts, plan.records, plan.warnings);
    WarnAboutLongPaths(plan.texts, plan.records, plan.warnings);
    return plan;
}

namespace {

void PatchTable(ShortcutEntry* table, const std::vector<ShortcutRow>& rows)
{
    for (std::size_t i = 0; i < rows.size(); ++i) {
        WriteSlot(table[i].LinkName, rows[i].link);
        WriteSlot(table[i].TargetFile, rows[i].target);
    }
    // The installer reads rows until an empty LinkName, and the stub's marked
    // rows are not empty: end the table explicitly.
    const std::size_t next = rows.size();
    if (next < ShortcutRows && (table[next].LinkName[0] != '\0' || table[next].TargetFile[0] != '\0')) {
        WriteSlot(table[next].LinkName, std::string());
        WriteSlot(table[next].TargetFile, std::string());
    }
}

}  // namespace

std::vector<std::uint8_t> PatchStub(const Stub& stub, const ProductTexts& texts)
{
    std::vector<std::uint8_t> bytes = stub.bytes;
    InstallerConfig config = ReadConfigRecord(bytes, stub.record_offset);
    WriteSlot(config.StubSize, std::to_string(bytes.size()));
    WriteSlot(config.Title, texts.title);
    WriteSlot(config.DefaultFolder, texts.default_folder);
    WriteSlot(config.ProgramGroup, texts.program_group);
    WriteSlot(config.RunAfterInstall, texts.run_after_install);
    PatchTable(config.StartMenuShortcuts, texts.start_menu);
    PatchTable(config.DesktopShortcuts, texts.desktop);
    WriteConfigRecord(bytes, stub.record_offset, config);
    return bytes;
}

}  // namespace stubkit
