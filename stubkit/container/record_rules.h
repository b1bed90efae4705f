// The configuration record judged as the installer reads it, by the rules
// `build` keeps when it writes one: `build` checks the record it patched with
// them before writing, and `test` checks a finished installer's record, so a
// record rewritten after `build` passes `test` only if `build` could have
// written it.
#ifndef STUBKIT_RECORD_RULES_H
#define STUBKIT_RECORD_RULES_H

#include <optional>
#include <string>
#include <vector>

#include "common/installer_config.h"
#include "payload/name_rules.h"
#include "stubkit/container/installer_file.h"

namespace stubkit {

// A text slot as the installer reads it: up to its first NUL within the 260
// text bytes; nothing when those bytes hold no NUL (the installer then skips
// what needs the text, or shows its first 259 characters).
std::optional<std::string> SlotTextAsRead(const char* slot);

// The StubSize slot as the installer reads it: at most 31 bytes, up to a NUL.
std::string StubSizeTextAsRead(const InstallerConfig& config);

// Every broken rule, one message each naming the slot (ANSI texts, as in the
// record); `records` are the packed files the run-after program must be among.
// `lead`: the lead bytes of the record's double-byte code page, or none.
std::vector<std::string> RecordProblems(const InstallerConfig& config, const std::vector<FileRecord>& records,
                                        const LeadByteSet* lead);

// The program part of a run-after command: the longest leading part, ending
// at a blank or at the end, that names one of `records` (letter case aside)
// by a name the installer accepts. Nothing when no part does; the installer
// then starts nothing.
std::optional<std::size_t> RunAfterProgramEnd(const std::string& command, const std::vector<FileRecord>& records,
                                              const LeadByteSet* lead);

}  // namespace stubkit

#endif
