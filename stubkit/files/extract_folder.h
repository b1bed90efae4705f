// The folder `extract` writes into, held open so that every path below it is
// walked one component at a time without following links: whatever links
// already stand in the folder, nothing is written outside it.
#ifndef STUBKIT_EXTRACT_FOLDER_H
#define STUBKIT_EXTRACT_FOLDER_H

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "stubkit/files/file_identity.h"
#include "stubkit/files/file_times.h"
#include "stubkit/platform/anchored_folder.h"

namespace stubkit {

// A path below the folder: its components, none empty, ".", ".." or with '/'.
using platform::RelativePath;

class ExtractFolder {
public:
    // Creates `folder` if it is missing (links in `folder` itself are the
    // user's choice and are followed) and opens it.
    explicit ExtractFolder(const std::filesystem::path& folder);

    // What stands in the way of creating `file`, checked before anything is
    // written: a symbolic link or a non-folder among its folders, a link or a
    // folder at its place, the input itself (see KeepInput) or (without
    // `overwrite`) any existing file there. Empty when nothing does.
    std::string Obstacle(const RelativePath& file, bool overwrite) const;

    // Creates the file with its missing folders and keeps it open for Write;
    // with `overwrite` an existing file is unlinked and made anew.
    void Create(const RelativePath& file, bool overwrite);
    void Write(const std::uint8_t* bytes, std::size_t size);
    // Sets the times and closes the file.
    void Finish(const FileTimes& times);
    // Closes and removes the open file, if any; gives its path, or empty.
    std::string Discard();

    std::filesystem::path PathOf(const RelativePath& file) const;

    // The file being extracted from, which no output may replace, not even
    // through a hard link.
    void KeepInput(const std::filesystem::path& input);

private:
    void Check(const std::optional<platform::FolderFailure>& failure, const RelativePath& file) const;

    std::filesystem::path folder_;
    std::unique_ptr<platform::AnchoredFolder> anchored_;
    RelativePath open_file_;
    std::filesystem::path input_;   // the installer, never overwritten
};

}  // namespace stubkit

#endif
