// Whether a path may be written as an output; which file a path names is the
// platform layer's to tell (platform::SameFile).
#ifndef STUBKIT_FILE_IDENTITY_H
#define STUBKIT_FILE_IDENTITY_H

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace stubkit {

// Why `output` must not be written: it exists and is not a regular file (a
// device, a FIFO, a socket, a folder), or it is one of `inputs` (by the same
// name, or through a hard or symbolic link). Empty when it may be written.
// Decided by what the files are, not by permissions, so root is held to it too.
std::string OutputProblem(const std::filesystem::path& output, const std::vector<std::filesystem::path>& inputs);

// The same for the output of a stream tool (encode, decode): "-" (standard
// output), a FIFO or a device is written into, as stream tools do; it is
// never replaced or removed, since nothing renames into it.
std::string StreamOutputProblem(const std::string& output, const std::vector<std::filesystem::path>& inputs);

}  // namespace stubkit

#endif
