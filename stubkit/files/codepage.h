// Text conversion between the host's UTF-8 and the 8-bit ANSI code page that
// the installer's Windows calls use for every name it handles.
#ifndef STUBKIT_CODEPAGE_H
#define STUBKIT_CODEPAGE_H

#include <optional>
#include <string>

#include "payload/name_rules.h"
#include "stubkit/platform/platform.h"

namespace stubkit {

constexpr int kDefaultCodepage = 1252;

// The code pages Windows uses as its ANSI code page, which the installer's
// "A" calls speak; the only ones a product can be packed for.
constexpr const char* kAnsiCodepageList = "874, 932, 936, 949, 950, 1250 to 1258";
bool IsAnsiCodepage(int number);

// Why a --codepage argument cannot be used, or empty when it can.
std::string CodepageArgumentProblem(const std::string& text);

class Codepage {
public:
    // Throws std::invalid_argument when `number` is not a Windows ANSI code
    // page (e.g. 1252, 1250, 932) or the host cannot convert to or from it.
    explicit Codepage(int number);

    int Number() const { return number_; }

    // The bytes that open a two-byte character, as Windows has them for
    // 932, 936, 949 and 950; nothing for a single-byte code page.
    const LeadByteSet* LeadBytes() const { return double_byte_ ? &lead_bytes_ : nullptr; }

    // The ANSI bytes of a UTF-8 text, or nothing when some character has no
    // form in this code page (or the text is not valid UTF-8).
    std::optional<std::string> FromUtf8(const std::string& utf8) const;

    // UTF-8 for ANSI bytes; undefined bytes become U+FFFD so a damaged name
    // can still be shown.
    std::string ToUtf8(const std::string& ansi) const;

    // UTF-8 for ANSI bytes as Windows decodes them, or nothing when a byte or
    // a pair is one the code page leaves undefined (whose name on Windows
    // cannot be told here).
    std::optional<std::string> ToUtf8Exactly(const std::string& ansi) const;

private:
    int number_;
    bool double_byte_ = false;
    LeadByteSet lead_bytes_{};
};

// Letter case folded the way Windows compares file names (Unicode simple
// upper case), for finding names that would land on the same file.
using platform::FoldCaseUtf8;

}  // namespace stubkit

#endif
