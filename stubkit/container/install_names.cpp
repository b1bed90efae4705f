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
    }
    return "is not a name Windows creates";
}

// The component at fault, for the message.
std::string FaultyPart(const std::string& name)
{
    std::size_t start = 0;
    for (;;) {
        const std::size_t end = name.find('\\', start);
        const std::string part = name.substr(start, end - start);
        if (JudgeNamePart(part.data(), static_cast<unsigned>(part.size())) != NameInstallable || end == std::string::npos)
            return part;
        start = end + 1;
    }
}

}  // namespace

std::optional<NameRefusal> InstallerNameRefusal(const std::string& ansi_name)
{
    const NameFault fault = JudgeTableName(ansi_name.data(), static_cast<unsigned>(ansi_name.size()));
    if (fault == NameInstallable)
        return std::nullopt;
    const std::string part = FaultyPart(ansi_name);
    const std::string where = fault == NameInstallerOwn || part == ansi_name ? "it " : "'" + part + "' ";
    // A dot-dot is refused for its trailing dot, but what it would do is climb.
    if (part == "..")
        return NameRefusal{where + "climbs to the folder above, out of the folder the name must stay in",
                           kCorruptedFileMessage};
    return NameRefusal{where + FaultText(fault), kCorruptedFileMessage};
}

std::string NamePartProblem(const std::string& ansi_part)
{
    return FaultText(JudgeNamePart(ansi_part.data(), static_cast<unsigned>(ansi_part.size())));
}

std::string UpperAscii(std::string text)
{
    for (char& c : text)
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    return text;
}

}  // namespace stubkit
