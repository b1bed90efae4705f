// Whether two paths name one file, and whether a path may be written as an
// output. Host-specific (device and inode numbers here), kept apart so that
// another host's way of telling can take its place.
#ifndef STUBKIT_FILE_IDENTITY_H
#define STUBKIT_FILE_IDENTITY_H

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace stubkit {

struct FileIdentity {
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    bool operator==(const FileIdentity& other) const { return device == other.device && inode == other.inode; }
};

// The file `path` leads to, symbolic links followed; nothing when there is none.
std::optional<FileIdentity> IdentityOf(const std::filesystem::path& path);

// Why `output` must not be written: it exists and is not a regular file (a
// device, a FIFO, a socket, a folder), or it is one of `inputs` (by the same
// name, or through a hard or symbolic link). Empty when it may be written.
// Decided by what the files are, not by permissions, so root is held to it too.
std::string OutputProblem(const std::filesystem::path& output, const std::vector<std::filesystem::path>& inputs);

}  // namespace stubkit

#endif
