// The tool's commands, one file each in this folder, each holding its
// options and its work; main() registers them in this order of its help.
#ifndef STUBKIT_COMMANDS_COMMANDS_H
#define STUBKIT_COMMANDS_COMMANDS_H

#include <CLI/CLI.hpp>

namespace stubkit {

// stubkit build CONFIG [-o OUT] [--stub STUB] [-1..-12] [-T N]: pack a product folder.
void AddBuildCommand(CLI::App& app);
// stubkit list SETUP [--json]: the record's fields and the file table.
void AddListCommand(CLI::App& app);
// stubkit test SETUP: decode and check everything as the installer would.
void AddTestCommand(CLI::App& app);
// stubkit extract SETUP DIR [NAME-OR-PATTERN]...: write the files with their times.
void AddExtractCommand(CLI::App& app);
// stubkit encode [-1..-12] [-T N] IN OUT: the raw compressed stream of IN's bytes.
void AddEncodeCommand(CLI::App& app);
// stubkit decode --total N IN OUT: every byte the installer's decoder emits.
void AddDecodeCommand(CLI::App& app);

}  // namespace stubkit

#endif
