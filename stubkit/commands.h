// Subcommands of the stubkit tool. Each lives in its own file and registers
// itself on the application; main() only calls the Add...Command functions.
#ifndef STUBKIT_COMMANDS_H
#define STUBKIT_COMMANDS_H

#include <CLI/CLI.hpp>

namespace stubkit {

// stubkit encode [-1..-9] IN OUT: the raw compressed stream of IN's bytes.
void AddEncodeCommand(CLI::App& app);
// stubkit decode --total N IN OUT: every byte the installer's decoder emits.
void AddDecodeCommand(CLI::App& app);

}  // namespace stubkit

#endif
