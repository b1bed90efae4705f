// What `test` and `extract` judge alike: the program and record in front of
// the payload, the names in the table, and a payload run's verdict in words.
#ifndef STUBKIT_COMMANDS_INSTALLER_CHECKS_H
#define STUBKIT_COMMANDS_INSTALLER_CHECKS_H

#include <filesystem>
#include <optional>
#include <vector>
#include <string>

#include "stubkit/container/installer_file.h"
#include "stubkit/container/payload_run.h"
#include "stubkit/files/codepage.h"

namespace stubkit {

// What makes the installer other than the one `build` makes from `stub`
// (empty: the stub the tool carries): a program it does not know, or a
// record `build` would never write. Empty when there is nothing.
std::string RecordOrStubProblem(const InstallerImage& image, const Codepage& codepage,
                                const std::filesystem::path& stub);

// Why a record fails `test`: the message, the rule broken (as `test --json`
// names it) and what the installer shows for it ("" when it shows nothing,
// or what it would do cannot be told).
struct RecordRefusal {
    std::string message;
    std::string rule;
    std::string installer_message;
};

// InstallDir as the installer proposes it on a stock Windows:
// "C:\Program Files\" and DefaultFolder, ending in a backslash (ANSI).
std::string ProposedInstallDir(const InstallerConfig& config);

// InstallDir for a folder given in UTF-8 ('/' taken as '\'), ending in a
// backslash; throws std::invalid_argument when the code page cannot hold it.
std::string InstallDirFor(const std::string& utf8_folder, const Codepage& codepage);

// For each record, why `test` refuses it: a name the installer refuses, a
// byte the code page leaves undefined, a path or part too long under
// `install_dir` (none: lengths are not judged), or the same file or folder
// as an earlier record.
std::vector<std::optional<RecordRefusal>> RecordRefusals(const std::vector<FileRecord>& records,
                                                         const Codepage& codepage,
                                                         const std::optional<std::string>& install_dir);

// The first record's refusal in table order; empty when there is none.
std::string TableNameProblem(const InstallerImage& image, const Codepage& codepage,
                             const std::optional<std::string>& install_dir);

// The outcome of a payload run in words, naming the file at fault and the
// message the installer would stop with.
std::string VerdictMessage(const InstallerImage& image, const PayloadVerdict& verdict, const Codepage& codepage);

}  // namespace stubkit

#endif
