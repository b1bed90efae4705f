// The text and character rules `build` applies to every value it puts into
// the record and the file table: a text is carried into the installer's code
// page character by character, and a name's components must be ones Windows
// creates as they read.
#ifndef STUBKIT_PACK_TEXT_RULES_H
#define STUBKIT_PACK_TEXT_RULES_H

#include <string>
#include <vector>

#include "stubkit/files/codepage.h"

namespace stubkit {

// The parts of a path between its backslashes (an empty path: one empty part).
std::vector<std::string> SplitBackslash(const std::string& path);

// '/' taken as '\', as the config's paths may be written.
std::string Backslashes(std::string path);

// Why a name cannot be a Windows file or folder name, or empty if it can.
std::string WindowsNameProblem(const std::string& component);

// Converts one text to ANSI, reporting characters the code page lacks.
class Converter {
public:
    Converter(const Codepage& codepage, std::vector<std::string>& problems)
        : codepage_(codepage), problems_(problems)
    {
    }

    // A path converted part by part, so that a double-byte character whose
    // second byte is a backslash cannot pass for a separator.
    // Empty, with the problem appended, when the text cannot be carried.
    std::string Path(const std::string& utf8, const std::string& field);

    std::string Utf8(const std::string& ansi) const { return codepage_.ToUtf8(ansi); }
    const Codepage& Target() const { return codepage_; }

private:
    const Codepage& codepage_;
    std::vector<std::string>& problems_;
};

}  // namespace stubkit

#endif
