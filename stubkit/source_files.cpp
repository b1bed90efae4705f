#include "stubkit/source_files.h"

#include <algorithm>
#include <stdexcept>

namespace stubkit {
namespace fs = std::filesystem;

namespace {

std::string BackslashName(const fs::path& relative)
{
    std::string name;
    for (const fs::path& part : relative) {
        if (!name.empty())
            name += '\\';
        name += part.u8string();
    }
    return name;
}

[[noreturn]] void FailOn(const fs::path& path, const std::error_code& error)
{
    throw std::runtime_error("cannot read '" + path.string() + "': " + error.message());
}

}  // namespace

std::vector<SourceFile> CollectSourceFiles(const fs::path& folder, std::vector<std::string>& skipped)
{
    std::error_code error;
    if (!fs::is_directory(folder, error))
        throw std::runtime_error("source folder '" + folder.string() + "' does not exist or is not a folder");
    std::vector<SourceFile> files;
    fs::recursive_directory_iterator entries(folder, fs::directory_options::none, error);
    if (error)
        FailOn(folder, error);
    for (; entries != fs::recursive_directory_iterator(); entries.increment(error)) {
        if (error)
            FailOn(entries->path(), error);
        const fs::directory_entry& entry = *entries;
        const fs::path relative = entry.path().lexically_relative(folder);
        if (entry.is_directory(error)) {
            if (entry.is_symlink(error)) {
                skipped.push_back(BackslashName(relative) + " (a link to a folder, not followed)");
                entries.disable_recursion_pending();
            }
            continue;
        }
        if (!entry.is_regular_file(error)) {
            skipped.push_back(BackslashName(relative) + " (not a regular file)");
            continue;
        }
        SourceFile file;
        file.path = entry.path();
        file.name = BackslashName(relative);
        file.size = entry.file_size(error);
        if (error)
            FailOn(entry.path(), error);
        file.times = ReadFileTimes(entry.path());
        files.push_back(std::move(file));
    }
    if (error)
        FailOn(folder, error);
    std::sort(files.begin(), files.end(),
              [](const SourceFile& a, const SourceFile& b) { return a.name < b.name; });
    return files;
}

}  // namespace stubkit
