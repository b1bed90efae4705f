// The files of the product folder, in the order they are packed.
#ifndef STUBKIT_SOURCE_FILES_H
#define STUBKIT_SOURCE_FILES_H

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "stubkit/files/file_times.h"

namespace stubkit {

struct SourceFile {
    std::filesystem::path path;   // on the host
    std::string name;             // UTF-8, relative, folders separated by '\'
    std::uint64_t size = 0;
    FileTimes times;
};

struct SourceScan {
    std::vector<SourceFile> files;
    std::vector<std::string> skipped;    // entries reported and left out
    std::vector<std::string> empty_folders;   // innermost folders that hold no packed file
    std::vector<std::string> problems;   // entries that make the build fail
};

struct ScanRules {
    // Pack links to files outside the folder as the files they name.
    bool follow_outside_links = false;
    // SOURCE_DATE_EPOCH as a FILETIME: no recorded time is later.
    std::optional<std::uint64_t> latest_time;
};

// Every regular file under `folder`, sorted by the bytes of `name` so the same
// folder always packs the same way (the packer then moves empty files to the
// front). A symbolic link to a file inside the folder counts as that file; one
// that leads outside it is a problem unless the rules allow it. Links to
// folders, dangling links, FIFOs, sockets and devices are skipped unopened.
// A file's access time is recorded as its write time: reading the files moves
// their access times, and the next build must not differ for it.
SourceScan CollectSourceFiles(const std::filesystem::path& folder, const ScanRules& rules = {});

}  // namespace stubkit

#endif
