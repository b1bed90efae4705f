#include "stubkit/container/install_names.h"

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

}  // namespace

std::optional<NameRefusal> InstallerNameRefusal(const std::string& ansi_name)
{
    if (ansi_name.empty())
        return NameRefusal{"the name is empty, which names the installation folder itself", kCannotCreateMessage};
    const std::size_t nul = ansi_name.find('\0');
    if (nul != std::string::npos)
        return NameRefusal{"the name holds a NUL byte; the installer would cut it there and create '" +
                               ansi_name.substr(0, nul) + "' instead",
                           nullptr};
    if (IsSeparator(ansi_name[0]))
        return NameRefusal{"the name starts with a separator and would leave the installation folder",
                           kCorruptedFileMessage};
    if (ansi_name.find(':') != std::string::npos)
        return NameRefusal{"the name holds a ':' (a drive or a stream of another file)", kCorruptedFileMessage};
    std::size_t start = 0;
    for (std::size_t end = 0; end <= ansi_name.size(); ++end) {
        if (end < ansi_name.size() && !IsSeparator(ansi_name[end]))
            continue;
        if (ClimbsOneLevel(ansi_name.substr(start, end - start)))
            return NameRefusal{"the name climbs out of its folder ('" + ansi_name.substr(start, end - start) + "')",
                               kCorruptedFileMessage};
        start = end + 1;
    }
    if (IsSeparator(ansi_name.back()))
        return NameRefusal{"the name ends in a separator and names a folder, not a file", kCannotCreateMessage};
    return std::nullopt;
}

}  // namespace stubkit
