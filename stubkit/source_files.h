// The files of the product folder, in the order they are packed.
#ifndef STUBKIT_SOURCE_FILES_H
#define STUBKIT_SOURCE_FILES_H

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "stubkit/file_times.h"

namespace stubkit {

struct SourceFile {
    std::filesystem::path path;   // on the host
    std::string name;             // UTF-8, relative, folders separated by '\'
    std::uint64_t size = 0;
    FileTimes times;
};

// Every regular file under `folder` (symbolic links to files count as the
// files they name; folders appear only through the files they hold), sorted
// by the bytes of `name` so the same folder always packs the same way (the
// packer then moves empty files to the front).
// Times are taken before anything reads the files. Entries that are neither
// files nor folders are reported in `skipped`.
std::vector<SourceFile> CollectSourceFiles(const std::filesystem::path& folder,
                                           std::vector<std::string>& skipped);

}  // namespace stubkit

#endif
