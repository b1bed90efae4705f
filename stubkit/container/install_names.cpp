#include "stubkit/container/install_names.h"

#include "payload/name_rules.h"

namespace stubkit {
namespace {

bool IsSeparator(char c)
{
    return c == '\\' || c == '/';
}

// Windows drops trailing dots and blanks, so "..", "... " and ". ." all
// climb one level.
bool ClimbsOneLevel(const std::string& component)
{
    int dots = 0;
    for (char c : component) {
        if (c == '.')
            ++dots;
        else if (c != ' ')
            return false;
    }
    return dots >= 2;
}

// Which of the shared rule's reasons applies to a name it refuses, in words.
std::string RefusalReason(const std::string& name)
{
    if (IsSeparator(name[0]))
        return "it starts with a separator and would leave the installation folder";
    if (name.find(':') != std::string::npos)
        return "it holds a ':' (a drive or a stream of another file)";
    std::size_t start = 0;
    for (std::size_t end = 0; end <= name.size(); ++end) {
        if (end < name.size() && !IsSeparator(name[end]))
            continue;
        const std::string component = name.substr(start, end - start);
        if (ClimbsOneLevel(component))
            return "it climbs out of its folder ('" + component + "')";
        if (IsDeviceName(component.data(), static_cast<unsigned>(component.size())))
            return "'" + component + "' is a device on Windows, not a file";
        start = end + 1;
    }
    return "it leaves the installation folder";
}

}  // namespace

std::optional<NameRefusal> InstallerNameRefusal(const std::string& ansi_name)
{
    // The installer copies the name as text, up to a NUL.
    const std::size_t nul = ansi_name.find('\0');
    if (nul != std::string::npos)
        return NameRefusal{"it holds a NUL byte; the installer would cut it there and create '" +
                               ansi_name.substr(0, nul) + "' instead",
                           nullptr};
    if (!IsInstallableName(ansi_name.c_str()))
        return NameRefusal{RefusalReason(ansi_name), kCorruptedFileMessage};
    // Names the rule lets through but that name the folder, not a file: the
    // installer fails to create them.
    if (ansi_name.empty())
        return NameRefusal{"it is empty, which names the installation folder itself", kCannotCreateMessage};
    if (IsSeparator(ansi_name.back()))
        return NameRefusal{"it ends in a separator and names a folder, not a file", kCannotCreateMessage};
    return std::nullopt;
}

}  // namespace stubkit
