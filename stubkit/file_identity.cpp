#include "stubkit/file_identity.h"

#include <sys/stat.h>

#include "stubkit/container/installer_file.h"
#include "stubkit/container/printable_text.h"

namespace stubkit {

std::optional<FileIdentity> IdentityOf(const std::filesystem::path& path)
{
    struct stat status {};
    if (::stat(path.c_str(), &status) != 0)
        return std::nullopt;
    return FileIdentity{static_cast<std::uint64_t>(status.st_dev), static_cast<std::uint64_t>(status.st_ino)};
}

std::string OutputProblem(const std::filesystem::path& output, const std::vector<std::filesystem::path>& inputs)
{
    const std::optional<FileIdentity> identity = IdentityOf(output);
    if (!identity)
        return std::string();   // not there yet (or a dangling link, which is replaced)
    const std::string problem = NonRegularFileProblem(output);
    if (!problem.empty())
        return "output " + problem;
    for (const std::filesystem::path& input : inputs)
        if (IdentityOf(input) == identity)
            return "output " + Quoted(output) + " is the input " + Quoted(input) + " (or a link to it)";
    return std::string();
}

}  // namespace stubkit
