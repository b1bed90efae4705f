#include "stubkit/container/record_rules.h"

#include <algorithm>
#include <set>

#include "payload/name_rules.h"
#include "stubkit/container/install_names.h"
#include "stubkit/container/printable_text.h"

namespace stubkit {
namespace {

bool HasControlCharacter(const std::string& text)
{
    return std::any_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) < 0x20; });
}

class RecordJudge {
public:
    RecordJudge(const InstallerConfig& config, const std::vector<FileRecord>& records, const LeadByteSet* lead)
        : config_(config), records_(records), lead_(lead)
    {
    }

    std::vector<std::string> Problems()
    {
        CheckTitle();
        CheckFolders(config_.DefaultFolder, "DefaultFolder");
        CheckRunAfter();
        const int start_menu_rows = CountShortcutRows(config_.StartMenuShortcuts);
        if (start_menu_rows > 0)
            CheckProgramGroup();
        CheckRows(config_.StartMenuShortcuts, "StartMenuShortcuts", start_menu_rows, true);
        CheckRows(config_.DesktopShortcuts, "DesktopShortcuts", CountShortcutRows(config_.DesktopShortcuts), false);
        return problems_;
    }

private:
    // The slot's text, or nothing (reported) when the installer cannot use it.
    std::optional<std::string> Text(const char* slot, const std::string& field)
    {
        std::optional<std::string> text = SlotTextAsRead(slot);
        if (!text)
            problems_.push_back(field + ": no NUL ends its text within 260 bytes; the installer cannot use it");
        else if (HasControlCharacter(*text))
            problems_.push_back(field + ": " + Quoted(*text) + " contains a control character");
        return HasControlCharacter(text.value_or("")) ? std::nullopt : text;
    }

    void CheckTitle()
    {
        const std::optional<std::string> title = Text(config_.Title, "Title");
        if (!title)
            return;
        if (title->empty())
            problems_.push_back("Title: empty; the installer makes no uninstall entry for it");
        if (title->size() > MaxTitleLength)
            problems_.push_back("Title: " + std::to_string(title->size()) +
                                " characters; at most 207 fit the uninstall registry key");
        if (HasSeparator(*title))
            problems_.push_back("Title: " + Quoted(*title) + " contains a backslash, which nests its registry key");
    }

    void CheckFolders(const char* slot, const std::string& field)
    {
        const std::optional<std::string> folders = Text(slot, field);
        if (!folders || folders->empty())
            return;
        for (const std::string& part : SplitTableName(*folders, lead_)) {
            const std::string problem = NamePartProblem(part, lead_);
            if (!problem.empty()) {
                problems_.push_back(field + ": " + Quoted(*folders) + ": '" + part + "' " + problem);
                return;
            }
        }
    }

    // A backslash that separates, not the trail byte of a character.
    bool HasSeparator(const std::string& text) const { return SplitTableName(text, lead_).size() > 1; }

    void CheckProgramGroup()
    {
        const std::optional<std::string> group = Text(config_.ProgramGroup, "ProgramGroup");
        if (!group)
            return;
        if (HasSeparator(*group))
            problems_.push_back("ProgramGroup: " + Quoted(*group) +
                                " is more than one folder deep; the installer creates only its last folder, "
                                "so no shortcut is made where the ones above do not exist");
        else if (const std::string problem = NamePartProblem(*group, lead_); !problem.empty())
            problems_.push_back("ProgramGroup: " + Quoted(*group) + " " + problem);
    }

    void CheckRunAfter()
    {
        const std::optional<std::string> command = Text(config_.RunAfterInstall, "RunAfterInstall");
        if (command && !command->empty() && !RunAfterProgramEnd(*command, records_, lead_))
            problems_.push_back("RunAfterInstall: " + Quoted(*command) +
                                " starts with no packed program (or climbs out of the folder); "
                                "the installer would start nothing");
    }

    // Start-menu links go into ProgramGroup, desktop links straight onto the desktop.
    void CheckRows(const ShortcutEntry* table, const std::string& name, int rows, bool in_group)
    {
        std::set<std::string> links;
        for (int i = 0; i < rows; ++i) {
            const std::string field = name + "[" + std::to_string(i) + "]";
            const std::optional<std::string> link = Text(table[i].LinkName, field + ".LinkName");
            const std::optional<std::string> target = Text(table[i].TargetFile, field + ".TargetFile");
            if (link) {
                const std::string problem = HasSeparator(*link) ? "is not a plain file name" : NamePartProblem(*link, lead_);
                if (!problem.empty())
                    problems_.push_back(field + ".LinkName: " + Quoted(*link) + " " + problem);
                else if (!links.insert(UpperAscii(*link)).second)
                    problems_.push_back(field + ".LinkName: " + Quoted(*link) +
                                        " is an earlier row's link but for letter case, which it would replace");
                if (in_group &&
                    SlotTextAsRead(config_.ProgramGroup).value_or("").size() + 1 + link->size() > 259)
                    problems_.push_back(field + ".LinkName: ProgramGroup, a backslash and the link exceed 259 characters");
            }
            if (target && target->empty())
                problems_.push_back(field + ".TargetFile: empty; the shortcut would open the installation folder");
            else if (target) {
                const NameFault fault = JudgeTableName(target->data(), static_cast<unsigned>(target->size()), lead_);
                if (fault != NameInstallable && fault != NameInstallerOwn)
                    problems_.push_back(field + ".TargetFile: " + Quoted(*target) + " " +
                                        InstallerNameRefusal(*target, lead_)->reason);
            }
        }
    }

    const InstallerConfig& config_;
    const std::vector<FileRecord>& records_;
    const LeadByteSet* lead_;
    std::vector<std::string> problems_;
};

}  // namespace

std::optional<std::string> SlotTextAsRead(const char* slot)
{
    const char* end = std::find(slot, slot + ConfigTextCapacity, '\0');
    if (end == slot + ConfigTextCapacity)
        return std::nullopt;
    return std::string(slot, end);
}

std::string StubSizeTextAsRead(const InstallerConfig& config)
{
    const char* slot = config.StubSize;
    return std::string(slot, std::find(slot, slot + StubSizeSlotSize - 1, '\0'));
}

std::vector<std::string> RecordProblems(const InstallerConfig& config, const std::vector<FileRecord>& records,
                                        const LeadByteSet* lead)
{
    return RecordJudge(config, records, lead).Problems();
}

std::optional<std::size_t> RunAfterProgramEnd(const std::string& command, const std::vector<FileRecord>& records,
                                              const LeadByteSet* lead)
{
    std::set<std::string> packed;
    for (const FileRecord& record : records)
        packed.insert(UpperAscii(record.name));
    for (std::size_t end = command.size(); end > 0; --end) {
        if (end < command.size() && command[end] != ' ')
            continue;
        const std::string program = command.substr(0, end);
        if (JudgeTableName(program.data(), static_cast<unsigned>(program.size()), lead) == NameInstallable &&
            packed.count(UpperAscii(program)))
            return end;
    }
    return std::nullopt;
}

}  // namespace stubkit
