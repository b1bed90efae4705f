// What `test` and `extract` judge alike: the program and record in front of
// the payload, the names in the table, and a payload run's verdict in words.
#ifndef STUBKIT_COMMANDS_INSTALLER_CHECKS_H
#define STUBKIT_COMMANDS_INSTALLER_CHECKS_H

#include <filesystem>
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

// The first name in the table that the installer refuses, or that lands on
// the same file (or folder) as an earlier one; empty when there is none.
std::string TableNameProblem(const InstallerImage& image, const Codepage& codepage);

// The outcome of a payload run in words, naming the file at fault and the
// message the installer would stop with.
std::string VerdictMessage(const InstallerImage& image, const PayloadVerdict& verdict, const Codepage& codepage);

}  // namespace stubkit

#endif
