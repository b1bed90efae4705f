// The installer's rules for the names in the file table, as `test` and
// `extract` apply them: a name the installer refuses makes `test` fail with
// the message the installer would show.
#ifndef STUBKIT_INSTALL_NAMES_H
#define STUBKIT_INSTALL_NAMES_H

#include <optional>
#include <string>
#include <vector>

#include "payload/name_rules.h"

namespace stubkit {

// What the installer shows when it refuses a payload or a file.
constexpr const char* kCorruptedFileMessage = "This is a corrupted installation file.";
constexpr const char* kCannotCreateMessage = "Cannot create file:";
constexpr const char* kIncompleteFileMessage =
    "This is an incomplete installation file (possibly from an incomplete download).";

struct NameRefusal {
    std::string reason;              // what is wrong with the name, in words
    const char* installer_message;   // what the installer shows for it
    const char* rule;                // the rule broken, as `test --json` names it
};

// The rule a fault breaks, as `test --json` names it ("forbidden-character").
const char* NameRuleName(NameFault fault);

// Why the installer refuses `ansi_name` (before it extracts anything, with
// the corrupted-file message), or nothing when it creates the file under
// InstallDir exactly as the name reads. `lead`: the code page's lead bytes
// (none for a single-byte one, or a name in UTF-8).
std::optional<NameRefusal> InstallerNameRefusal(const std::string& ansi_name, const LeadByteSet* lead);

// The same rule for one component of a name, link or folder field, in words;
// empty when Windows creates it as it reads.
std::string NamePartProblem(const std::string& ansi_part, const LeadByteSet* lead);

// The components of a backslash-separated name, a double-byte character
// whose trail byte is a backslash kept whole.
std::vector<std::string> SplitTableName(const std::string& ansi_name, const LeadByteSet* lead);

// Letter case folded as the installer compares the names it installed with
// shortcut targets and the run-after program: ASCII letters only.
std::string UpperAscii(std::string text);

}  // namespace stubkit

#endif
