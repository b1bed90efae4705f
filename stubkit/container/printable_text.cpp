#include "stubkit/container/printable_text.h"

#include <cstdio>

namespace stubkit {
namespace {

std::string Escaped(unsigned value)
{
    char text[8];
    std::snprintf(text, sizeof text, "\\x%02X", value);
    return text;
}

}  // namespace

std::string Printable(const std::string& utf8)
{
    std::string text;
    text.reserve(utf8.size());
    for (std::size_t i = 0; i < utf8.size(); ++i) {
        const auto byte = static_cast<unsigned char>(utf8[i]);
        if (byte < 0x20 || byte == 0x7F) {
            text += Escaped(byte);
        } else if (byte == 0xC2 && i + 1 < utf8.size() && static_cast<unsigned char>(utf8[i + 1]) >= 0x80 &&
                   static_cast<unsigned char>(utf8[i + 1]) <= 0x9F) {
            // U+0080..U+009F: C1 controls, among them the one-byte CSI.
            text += Escaped(static_cast<unsigned char>(utf8[++i]));
        } else {
            text += utf8[i];
        }
    }
    return text;
}

std::string Quoted(const std::string& utf8)
{
    return "'" + Printable(utf8) + "'";
}

std::string Quoted(const std::filesystem::path& path)
{
    return Quoted(path.u8string());
}

std::string Counted(std::size_t count, const std::string& singular, const std::string& plural)
{
    return std::to_string(count) + " " + (count == 1 ? singular : plural.empty() ? singular + "s" : plural);
}

}  // namespace stubkit
