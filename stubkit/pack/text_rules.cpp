#include "stubkit/pack/text_rules.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <optional>

#include "payload/name_rules.h"
#include "stubkit/container/install_names.h"
#include "stubkit/container/printable_text.h"

namespace stubkit {
namespace {

// The UTF-8 character at `at`: its code point and length; a length of 0 when
// the bytes there are not UTF-8.
struct Utf8Character {
    std::uint32_t code_point = 0;
    std::size_t length = 0;
};

Utf8Character CharacterAt(const std::string& utf8, std::size_t at)
{
    const auto lead = static_cast<unsigned char>(utf8[at]);
    const std::size_t length = lead < 0x80 ? 1 : lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 0;
    if (length == 0 || at + length > utf8.size())
        return {};
    std::uint32_t code_point = length == 1 ? lead : lead & (0x7F >> length);
    for (std::size_t i = 1; i < length; ++i) {
        const auto byte = static_cast<unsigned char>(utf8[at + i]);
        if ((byte & 0xC0) != 0x80)
            return {};
        code_point = code_point << 6 | (byte & 0x3F);
    }
    return {code_point, length};
}

std::string HexBytes(const std::string& bytes)
{
    std::string text;
    for (unsigned char byte : bytes) {
        char hex[4];
        std::snprintf(hex, sizeof hex, "%02X", byte);
        text += (text.empty() ? "" : " ") + std::string(hex);
    }
    return text;
}

// The first control character of a UTF-8 text, named for a message; a NUL
// would cut the text short in the installer's slot, the others garble what
// the user sees.
std::string ControlCharacter(const std::string& utf8)
{
    for (std::size_t i = 0; i < utf8.size(); ++i) {
        const auto byte = static_cast<unsigned char>(utf8[i]);
        const bool c1 = byte == 0xC2 && i + 1 < utf8.size() && static_cast<unsigned char>(utf8[i + 1]) >= 0x80 &&
                        static_cast<unsigned char>(utf8[i + 1]) <= 0x9F;
        if (byte == 0)
            return "a NUL character";
        if (byte < 0x20 || byte == 0x7F || c1) {
            char text[48];
            std::snprintf(text, sizeof text, "the control character U+%04X",
                          c1 ? static_cast<unsigned char>(utf8[i + 1]) : byte);
            return text;
        }
    }
    return std::string();
}

// The first character of `utf8` that the code page cannot carry into a name,
// named with its position (counted in characters from 1): one the code page
// lacks, or one whose bytes there hold a backslash or '/' that Windows would
// take for a separator. Empty when there is none.
std::string CharacterProblem(const Codepage& codepage, const std::string& utf8)
{
    const std::string page = "code page " + std::to_string(codepage.Number());
    std::size_t position = 1;
    for (std::size_t at = 0; at < utf8.size(); ++position) {
        const Utf8Character character = CharacterAt(utf8, at);
        if (character.length == 0)
            return Quoted(utf8) + " is not valid UTF-8 at byte " + std::to_string(at + 1);
        const std::string text = utf8.substr(at, character.length);
        char name[48];
        std::snprintf(name, sizeof name, "U+%04X ", character.code_point);
        const std::string named = name + Quoted(text) + " at " + std::to_string(position) + " in " + Quoted(utf8);
        const std::optional<std::string> ansi = codepage.FromUtf8(text);
        if (!ansi)
            return named + " is not in " + page;
        if (character.length > 1 && ansi->find_first_of("\\/") != std::string::npos)
            return named + " is " + HexBytes(*ansi) + " in " + page + ", bytes that hold a " +
                   (ansi->find('\\') != std::string::npos ? "backslash" : "'/'") +
                   ", which Windows would take for a folder separator";
        at += character.length;
    }
    return std::string();
}

}  // namespace

std::vector<std::string> SplitBackslash(const std::string& path)
{
    std::vector<std::string> parts;
    std::size_t start = 0;
    for (;;) {
        const std::size_t end = path.find('\\', start);
        parts.push_back(path.substr(start, end - start));
        if (end == std::string::npos)
            return parts;
        start = end + 1;
    }
}

std::string Backslashes(std::string path)
{
    std::replace(path.begin(), path.end(), '/', '\\');
    return path;
}

std::string Converter::Path(const std::string& utf8, const std::string& field)
{
    if (const std::string control = ControlCharacter(utf8); !control.empty()) {
        problems_.push_back(field + ": contains " + control + ", which no name or title may hold");
        return std::string();
    }
    std::string ansi;
    bool first = true;
    for (const std::string& part : SplitBackslash(utf8)) {
        std::optional<std::string> converted = codepage_.FromUtf8(part);
        if (!converted || converted->find('\\') != std::string::npos ||
            std::count(converted->begin(), converted->end(), '/') != std::count(part.begin(), part.end(), '/')) {
            const std::string problem = CharacterProblem(codepage_, utf8);
            problems_.push_back(field + ": " + (problem.empty() ? Quoted(utf8) + " cannot be written in code page " +
                                                                      std::to_string(codepage_.Number())
                                                                : problem));
            return std::string();
        }
        ansi += (first ? "" : "\\") + *converted;
        first = false;
    }
    return ansi;
}

std::string WindowsNameProblem(const std::string& component)
{
    // The shared rule decides; the cases below only word it better.
    if (component.empty())
        return "has an empty name";
    if (component == "." || component == "..")
        return "is not a name but a relative folder reference";
    for (unsigned char c : component) {
        if (c < 0x20)
            return "contains a control character";
        if (std::string("<>:\"|?*").find(static_cast<char>(c)) != std::string::npos)
            return std::string("contains the character '") + static_cast<char>(c) +
                   "', which Windows does not allow in names";
    }
    if (component.back() == '.' || component.back() == ' ')
        return "ends in a dot or a blank, which Windows removes";
    if (IsDeviceName(component.data(), static_cast<unsigned>(component.size())))
        return "is a reserved device name on Windows";
    return NamePartProblem(component, nullptr);
}

}  // namespace stubkit
