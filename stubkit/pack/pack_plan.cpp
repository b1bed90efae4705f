#include "stubkit/pack/pack_plan.h"

#include <algorithm>
#include <map>
#include <set>

#include "payload/name_rules.h"
#include "stubkit/container/install_names.h"
#include "stubkit/container/printable_text.h"
#include "stubkit/container/record_rules.h"
#include "stubkit/pack/text_rules.h"

namespace stubkit {
namespace {

std::string JoinLines(const std::vector<std::string>& lines)
{
    std::string text;
    for (const std::string& line : lines)
        text += (text.empty() ? "" : "\n") + line;
    return text;
}

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
            problems_.push_back("program_group: " + Quoted(Backslashes(config_.program_group)) +
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
            const std::string field = "file " + Quoted(file.name);
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
                                " files; the installer's file table holds at most " + std::to_string(kFileTableCapacity) + " bytes");
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
        const std::string problem = PartsProblem(folders);
        if (!problem.empty())
            problems_.push_back(field + ": " + Quoted(value) + ": " + problem);
        return ansi;
    }

    // The first part of a backslash-separated name that Windows would not
    // create as it reads, in words: judged in UTF-8 for the message, and in
    // the code page for what the installer sees (superscript port digits).
    // Each part is judged in UTF-8 and in the code page, converted on its own
    // so no trail byte passes for a separator.
    std::string PartsProblem(const std::string& utf8)
    {
        const std::vector<std::string> utf8_parts = SplitBackslash(utf8);
        for (std::size_t i = 0; i < utf8_parts.size(); ++i) {
            if (utf8_parts[i] == "..")
                return "'..' climbs to the folder above, out of the folder the name must stay in";
            std::string problem = WindowsNameProblem(utf8_parts[i]);
            const std::optional<std::string> ansi_part = convert_.Target().FromUtf8(utf8_parts[i]);
            if (problem.empty() && ansi_part)
                problem = NamePartProblem(*ansi_part, convert_.Target().LeadBytes());
            if (!problem.empty())
                return Quoted(utf8_parts[i]) + " " + problem;
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
            else if (const NameFault fault = JudgeTableName(row.target.data(), static_cast<unsigned>(row.target.size()),
                                                            convert_.Target().LeadBytes());
                     !row.target.empty() && fault != NameInstallable && fault != NameInstallerOwn)
                problems_.push_back(field + ".target: " + Quoted(rows[i].target) + ": " +
                                    convert_.Utf8(InstallerNameRefusal(row.target, convert_.Target().LeadBytes())->reason));
            const auto [earlier, first] = links.emplace(FoldCaseUtf8(rows[i].link), field);
            if (!first && !rows[i].link.empty())
                problems_.push_back(field + ".link: " + Quoted(rows[i].link) + " is the link of " + earlier->second +
                                    " but for letter case; on Windows the second shortcut would replace the first");
            if (rows[i].link.empty()) {
                problems_.push_back(field + ".link: must not be empty (an empty link ends the table)");
            } else {
                const std::string problem = rows[i].link.find_first_of("\\/") != std::string::npos
                                                ? Quoted(rows[i].link) + " must be a plain file name, without folders"
                                                : PartsProblem(rows[i].link);
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
        const std::string problem = PartsProblem(utf8);
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
            problems_.push_back("file " + Quoted(name) + ": same name as " + Quoted(file->second) +
                                " but for letter case; on Windows the second would overwrite the first");
        std::string folder = name;
        for (std::size_t cut = folder.rfind('\\'); cut != std::string::npos; cut = folder.rfind('\\')) {
            folder.resize(cut);
            auto [spelling, first] = seen_folders.emplace(FoldCaseUtf8(folder), folder);
            if (!first && spelling->second != folder && warned_folders.insert(folder).second)
                warnings.push_back("folders " + Quoted(spelling->second) + " and " + Quoted(folder) +
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
            const std::string field = table + "[" + std::to_string(i) + "].target: " + Quoted(rows[i].target);
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
                warnings.push_back(table + "[" + std::to_string(i) + "].link: " + Quoted(link) +
                                   " does not end in .lnk; Windows will not treat the file as a shortcut");
        }
    };
    check_extensions(texts.start_menu, "start_menu");
    check_extensions(texts.desktop, "desktop");
}

}  // namespace

ValidationError::ValidationError(std::vector<std::string> problems, std::size_t config_problems)
    : std::runtime_error(JoinLines(problems)), problems_(std::move(problems)), config_problems_(config_problems)
{
}

std::string ValidationError::Summary(const std::filesystem::path& config) const
{
    const std::string all = std::to_string(problems_.size()) + (problems_.size() == 1 ? " problem" : " problems");
    const std::string in_config = " in " + Quoted(config.u8string());
    if (config_problems_ == 0)
        return all;
    if (config_problems_ == problems_.size())
        return all + in_config;
    return all + ", " + std::to_string(config_problems_) + " of them" + in_config;
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
    plan.texts = planner.Texts();
    plan.records = planner.Records(files, plan.total_size);
    plan.texts.run_after_install = RunAfterWithBackslashes(plan.texts.run_after_install, PackedNames(plan.records));
    // The installer starts nothing for a command whose program it did not install.
    if (!plan.texts.run_after_install.empty() &&
        !RunAfterProgramEnd(plan.texts.run_after_install, plan.records, codepage.LeadBytes()))
        problems.push_back("run_after_install: " + Quoted(config.run_after_install) +
                           " does not start with a packed program; the installer would start nothing");
    plan.files = std::move(files);
    plan.warnings = std::move(planner.warnings);
    WarnAboutTargets(plan.texts, plan.records, plan.warnings);
    return plan;
}

}  // namespace stubkit
