// A folder that files are created below without ever following a link
// beneath it: each path is walked one component at a time, and what stands
// in the way is reported, not written through. The folder itself (and links
// on the way to it) is the user's choice and is followed.
#ifndef STUBKIT_PLATFORM_ANCHORED_FOLDER_H
#define STUBKIT_PLATFORM_ANCHORED_FOLDER_H

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "stubkit/platform/platform.h"

namespace stubkit::platform {

// A path below the folder: its components, none empty, ".", ".." or with a
// separator.
using RelativePath = std::vector<std::string>;

// What failed, and at which path: the first `components` of the file's path
// (all of them for the file itself, none for the folder).
struct FolderFailure {
    const char* what;        // "cannot create the folder", "cannot write", ...
    std::size_t components;
    std::string reason;      // the system's words
};

class AnchoredFolder {
public:
    // Opens `folder`, which must exist; Reason() says why it could not.
    explicit AnchoredFolder(const std::filesystem::path& folder);
    ~AnchoredFolder();
    AnchoredFolder(const AnchoredFolder&) = delete;
    AnchoredFolder& operator=(const AnchoredFolder&) = delete;

    bool IsOpen() const;
    const std::string& Reason() const { return reason_; }

    // What stands at `path` below the folder, the last component not
    // followed if it is a link; missing when any component is.
    FileKind KindAt(const RelativePath& path) const;

    // Creates the file's missing folders and the file itself, new, and keeps
    // it open; with `replace` an existing file is removed first, so a hard
    // link to a file elsewhere is not written through either.
    std::optional<FolderFailure> Create(const RelativePath& file, bool replace);
    std::optional<FolderFailure> Write(const std::uint8_t* bytes, std::size_t size);
    // Sets the open file's times (on Linux without its creation time) and
    // closes it.
    std::optional<FolderFailure> Finish(const FileTimes& times);
    // Closes and removes the open file; false when none was open.
    bool Discard();

private:
    std::filesystem::path folder_;
    std::string reason_;
    std::intptr_t folder_handle_ = -1;
    std::intptr_t file_handle_ = -1;
    std::intptr_t parent_handle_ = -1;
    RelativePath open_file_;
};

}  // namespace stubkit::platform

#endif
