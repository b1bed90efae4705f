#include "stubkit/codepage.h"

#include <iconv.h>
#include <locale.h>
#include <wctype.h>

#include <cerrno>
#include <memory>
#include <stdexcept>
#include <vector>

namespace stubkit {
namespace {

// glibc's names for the Windows code pages that are not simply "CP<n>".
std::string CharsetName(int number)
{
    switch (number) {
    case 936: return "GBK";
    case 949: return "UHC";
    case 950: return "BIG5";
    default: return "CP" + std::to_string(number);
    }
}

struct IconvCloser {
    void operator()(void* handle) const { iconv_close(static_cast<iconv_t>(handle)); }
};
using IconvHandle = std::unique_ptr<void, IconvCloser>;

IconvHandle OpenConverter(const std::string& to, const std::string& from)
{
    iconv_t handle = iconv_open(to.c_str(), from.c_str());
    if (handle == reinterpret_cast<iconv_t>(-1))
        return nullptr;
    return IconvHandle(handle);
}

// Converts the whole text or reports the offset of the first byte that could
// not be converted (or that starts an incomplete sequence).
struct Conversion {
    std::string output;
    std::optional<size_t> failed_at;
};

Conversion Convert(void* handle, const std::string& input)
{
    Conversion result;
    auto* converter = static_cast<iconv_t>(handle);
    std::vector<char> in(input.begin(), input.end());
    char* in_ptr = in.data();
    size_t in_left = in.size();
    std::vector<char> out(input.size() * 4 + 16);
    char* out_ptr = out.data();
    size_t out_left = out.size();
    while (in_left > 0) {
        if (iconv(converter, &in_ptr, &in_left, &out_ptr, &out_left) == static_cast<size_t>(-1)) {
            if (errno == E2BIG)
                throw std::logic_error("conversion buffer too small");
            result.failed_at = static_cast<size_t>(in_ptr - in.data());
            break;
        }
    }
    if (!result.failed_at)
        iconv(converter, nullptr, nullptr, &out_ptr, &out_left);
    result.output.assign(out.data(), static_cast<size_t>(out_ptr - out.data()));
    return result;
}

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

Codepage::Codepage(int number) : number_(number), charset_(CharsetName(number))
{
    if (!IsAnsiCodepage(number))
        throw std::invalid_argument(NotAnsiCodepage(std::to_string(number)));
    if (!OpenConverter(charset_, "UTF-8") || !OpenConverter("UTF-8", charset_))
        throw std::invalid_argument("code page " + std::to_string(number) +
                                    " is not known to this system's converter");
}

std::optional<std::string> Codepage::FromUtf8(const std::string& utf8) const
{
    IconvHandle converter = OpenConverter(charset_, "UTF-8");
    Conversion conversion = Convert(converter.get(), utf8);
    if (conversion.failed_at)
        return std::nullopt;
    return conversion.output;
}

std::string Codepage::ToUtf8(const std::string& ansi) const
{
    IconvHandle converter = OpenConverter("UTF-8", charset_);
    std::string result;
    std::string rest = ansi;
    for (;;) {
        Conversion conversion = Convert(converter.get(), rest);
        result += conversion.output;
        if (!conversion.failed_at)
            return result;
        result += "\xEF\xBF\xBD";
        rest.erase(0, *conversion.failed_at + 1);
        iconv(static_cast<iconv_t>(converter.get()), nullptr, nullptr, nullptr, nullptr);
    }
}

std::string FoldCaseUtf8(const std::string& utf8)
{
    static locale_t utf8_locale = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(0));
    IconvHandle to_wide = OpenConverter("WCHAR_T", "UTF-8");
    IconvHandle to_utf8 = OpenConverter("UTF-8", "WCHAR_T");
    if (!to_wide || !to_utf8)
        throw std::runtime_error("no UTF-8 converter on this system");
    Conversion wide = Convert(to_wide.get(), utf8);
    std::string folded_wide = wide.output;
    for (size_t i = 0; i + sizeof(wchar_t) <= folded_wide.size(); i += sizeof(wchar_t)) {
        wchar_t c;
        folded_wide.copy(reinterpret_cast<char*>(&c), sizeof c, i);
        c = utf8_locale ? static_cast<wchar_t>(towupper_l(static_cast<wint_t>(c), utf8_locale))
                        : (c >= L'a' && c <= L'z' ? c - L'a' + L'A' : c);
        folded_wide.replace(i, sizeof c, reinterpret_cast<const char*>(&c), sizeof c);
    }
    std::string folded = Convert(to_utf8.get(), folded_wide).output;
    // Undecodable input keeps its bytes: it cannot match anything else anyway.
    if (wide.failed_at)
        folded += utf8.substr(*wide.failed_at);
    return folded;
}

}  // namespace stubkit
