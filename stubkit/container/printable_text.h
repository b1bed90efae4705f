// Texts taken from files (names, titles, paths) shown to people. A crafted
// installer or config can carry bytes that a terminal takes as commands (an
// escape sequence) or that cut a C string short (NUL); those never reach the
// screen as they are.
#ifndef STUBKIT_PRINTABLE_TEXT_H
#define STUBKIT_PRINTABLE_TEXT_H

#include <filesystem>
#include <string>

namespace stubkit {

// The UTF-8 text with every control character (C0, DEL, and the C1 range
// U+0080..U+009F) written as \xNN (\x9B for U+009B); a backslash stays as it
// is, since it is the Windows path separator and common in names.
std::string Printable(const std::string& utf8);

// Printable text in single quotes, the way every message names a file or value.
std::string Quoted(const std::string& utf8);
std::string Quoted(const std::filesystem::path& path);

// "1 file", "2 files": a count with its noun.
std::string Counted(std::size_t count, const std::string& singular, const std::string& plural = "");

}  // namespace stubkit

#endif
