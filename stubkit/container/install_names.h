// The installer's rules for the names in the file table, as `test` and
// `extract` apply them: a name the installer refuses makes `test` fail with
// the message the installer would show.
#ifndef STUBKIT_INSTALL_NAMES_H
#define STUBKIT_INSTALL_NAMES_H

#include <optional>
#include <string>

namespace stubkit {

// What the installer shows when extraction reaches a record it refuses.
constexpr const char* kCorruptedFileMessage = "This is a corrupted installation file.";
constexpr const char* kCannotCreateMessage = "Cannot create file:";
constexpr const char* kIncompleteFileMessage =
    "This is an incomplete installation file (possibly from an incomplete download).";

struct NameRefusal {
    std::string reason;              // what is wrong with the name
    const char* installer_message;   // what the installer would show for it
};

// Why the installer would refuse `ansi_name` (or not install it under that
// name), or nothing when it installs it under InstallDir as it is. Both '\'
// and '/' separate folders on Windows.
std::optional<NameRefusal> InstallerNameRefusal(const std::string& ansi_name);

}  // namespace stubkit

#endif
