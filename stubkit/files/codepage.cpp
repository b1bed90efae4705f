#include "stubkit/files/codepage.h"

#include <stdexcept>

namespace stubkit {
namespace {

std::string NotAnsiCodepage(const std::string& shown)
{
    return "code page " + shown + " is not a Windows ANSI code page; use one of " + kAnsiCodepageList;
}

}  // namespace

bool IsAnsiCodepage(int number)
{
    return number == 874 || number == 932 || number == 936 || number == 949 || number == 950 ||
           (number >= 1250 && number <= 1258);
}

std::string CodepageArgumentProblem(const std::string& text)
{
    const bool digits = !text.empty() && text.size() <= 5 && text.find_first_not_of("0123456789") == std::string::npos;
    if (digits && IsAnsiCodepage(std::stoi(text)))
        return std::string();
    // A long argument is shown cut, so the message stays readable.
    return NotAnsiCodepage("'" + (text.size() > 12 ? text.substr(0, 12) + "..." : text) + "'");
}

Codepage::Codepage(int number) : number_(number)
{
    if (!IsAnsiCodepage(number))
        throw std::invalid_argument(NotAnsiCodepage(std::to_string(number)));
    if (!platform::CanConvertCodepage(number))
        throw std::invalid_argument("code page " + std::to_string(number) +
                                    " is not known to this system's converter");
    // Windows' lead-byte ranges: Shift JIS has two, the others one.
    const int first = 0x81, last = number == 932 ? 0xFC : 0xFE;
    double_byte_ = number == 932 || number == 936 || number == 949 || number == 950;
    for (int byte = first; double_byte_ && byte <= last; ++byte)
        if (number != 932 || byte <= 0x9F || byte >= 0xE0)
            lead_bytes_.bits[byte >> 3] |= static_cast<unsigned char>(1 << (byte & 7));
}

std::optional<std::string> Codepage::FromUtf8(const std::string& utf8) const
{
    return platform::Utf8ToCodepage(number_, utf8);
}

std::string Codepage::ToUtf8(const std::string& ansi) const
{
    return platform::CodepageToUtf8(number_, ansi);
}

std::optional<std::string> Codepage::ToUtf8Exactly(const std::string& ansi) const
{
    return platform::CodepageToUtf8Exactly(number_, ansi);
}

}  // namespace stubkit
