#include "stubkit/container/install_names.h"

#include "payload/name_rules.h"

namespace stubkit {
namespace {

std::string FaultText(NameFault fault)
{
    switch (fault) {
    case NameInstallable:
        return std::string();
    case NameEmptyPart:
        return "has an empty name (a backslash at its start, at its end or doubled)";
    case NameForbiddenCharacter:
        return "contains a control character or one of < > : \" / | ? *, which Windows does not allow in names "
               "(':' would write a stream of another file, and the installer makes folders at '\\' only)";
    case NameTrailingDotOrBlank:
        return "ends in a dot or a blank, which Windows removes (so '.' and '..' name folders, and 'a.' is 'a')";
    case NameDevice:
        return "is a reserved device name on Windows";
    case NameShortAlias:
        return "has the form of a generated 8.3 short name (like LONGFI~1.TXT), which another file may own";
    case NameInstallerOwn:
        return "is the installer's own uninstaller or its data file";
    case NameLoneLeadByte:
        return "ends in the first byte of a two-byte character, which Windows drops (so 'b\\x95' is 'b')";
    }
    return "is not a name Windows creates";
}

// The component at fault, for the message.
std::string FaultyPart(const std::string& name, const LeadByteSet* lead)
{
    const std::vector<std::string> parts = SplitTableName(name, lead);
    for (const std::string& part : parts)
        if (JudgeNamePart(part.data(), static_cast<unsigned>(part.size()), lead) != NameInstallable)
            return part;
    return parts.back();
}

}  // namespace

const char* NameRuleName(NameFault fault)
{
    switch (fault) {
    case NameInstallable: return "installable";
    case NameEmptyPart: return "empty-part";
    case NameForbiddenCharacter: return "forbidden-character";
    case NameTrailingDotOrBlank: return "trailing-dot-or-blank";
    case NameDevice: return "device-name";
    case NameShortAlias: return "short-name-form";
    case NameInstallerOwn: return "installer-own-file";
    case NameLoneLeadByte: return "lone-lead-byte";
    }
    return "unknown";
}

std::vector<std::string> SplitTableName(const std::string& ansi_name, const LeadByteSet* lead)
{
    std::vector<std::string> parts(1);
    const unsigned length = static_cast<unsigned>(ansi_name.size());
    for (unsigned at = 0; at < length;) {
        const unsigned size = CharacterLength(lead, ansi_name.data(), at, length);
        if (size == 1 && ansi_name[at] == '\\')
            parts.emplace_back();
        else
            parts.back().append(ansi_name, at, size);
        at += size;
    }
    return parts;
}

std::optional<NameRefusal> InstallerNameRefusal(const std::string& ansi_name, const LeadByteSet* lead)
{
    const NameFault fault = JudgeTableName(ansi_name.data(), static_cast<unsigned>(ansi_name.size()), lead);
    if (fault == NameInstallable)
        return std::nullopt;
    const std::string part = FaultyPart(ansi_name, lead);
    const std::string where = fault == NameInstallerOwn || part == ansi_name ? "it " : "'" + part + "' ";
    // A dot-dot is refused for its trailing dot, but what it would do is climb.
    if (part == "..")
        return NameRefusal{where + "climbs to the folder above, out of the folder the name must stay in",
                           kCorruptedFileMessage, "climbing"};
    return NameRefusal{where + FaultText(fault), kCorruptedFileMessage, NameRuleName(fault)};
}

std::string NamePartProblem(const std::string& ansi_part, const LeadByteSet* lead)
{
    return FaultText(JudgeNamePart(ansi_part.data(), static_cast<unsigned>(ansi_part.size()), lead));
}

std::string UpperAscii(std::string text)
{
    for (char& c : text)
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    return text;
}

}  // namespace stubkit
