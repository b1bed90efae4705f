// The manual page and the bash completion script, generated from the same
// command-line setup that `--help` prints, so that they never drift from it.
// The build writes both with the tool's hidden --man-page and
// --bash-completion flags and installs them beside it.
#ifndef STUBKIT_TOOL_DOCUMENTS_H
#define STUBKIT_TOOL_DOCUMENTS_H

#include <string>

#include <CLI/CLI.hpp>

namespace stubkit {

// troff source of stubkit(1): each subcommand's description, arguments,
// options and notes; the tool's own notes as examples.
std::string ManPage(const CLI::App& app, const std::string& version);

// A bash script completing subcommands, their options, and file names for
// arguments and option values.
std::string BashCompletion(const CLI::App& app);

}  // namespace stubkit

#endif
