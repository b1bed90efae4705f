#include "stubkit/files/name_pattern.h"

#include <algorithm>

#include "stubkit/container/install_names.h"

namespace stubkit {
namespace {

constexpr std::size_t kNone = std::string::npos;

// Bytes of the UTF-8 character that starts with `lead` (1 for a stray byte).
std::size_t CharacterLength(unsigned char lead)
{
    return lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
}

// The set "[...]" at `open`: whether it takes `byte`, and where it ends
// (kNone when it never closes, and the '[' then stands for itself).
std::size_t MatchSet(const std::string& pattern, std::size_t open, unsigned char byte, bool& taken)
{
    std::size_t at = open + 1;
    const bool negated = at < pattern.size() && (pattern[at] == '!' || pattern[at] == '^');
    at += negated ? 1 : 0;
    bool inside = false;
    for (bool first = true; at < pattern.size() && (first || pattern[at] != ']'); first = false) {
        const auto low = static_cast<unsigned char>(pattern[at]);
        auto high = low;
        if (at + 2 < pattern.size() && pattern[at + 1] == '-' && pattern[at + 2] != ']') {
            high = static_cast<unsigned char>(pattern[at + 2]);
            at += 2;
        }
        inside = inside || (byte >= low && byte <= high);
        ++at;
    }
    if (at >= pattern.size())
        return kNone;
    taken = inside != negated;
    return at + 1;
}

// Matches one pattern element (not '*') at `p` against the text at `t`;
// gives the bytes of text it took (0: no match) and moves `p` past it.
std::size_t MatchElement(const std::string& pattern, std::size_t& p, const std::string& text, std::size_t t)
{
    const auto byte = static_cast<unsigned char>(text[t]);
    if (pattern[p] == '?') {
        ++p;
        return std::min(CharacterLength(byte), text.size() - t);
    }
    if (pattern[p] == '[') {
        bool taken = false;
        const std::size_t end = MatchSet(pattern, p, byte, taken);
        if (end != kNone) {
            p = end;
            return taken ? 1 : 0;
        }
    }
    if (pattern[p] != text[t])
        return 0;
    ++p;
    return 1;
}

}  // namespace

bool WildcardMatch(const std::string& typed, const std::string& text, LetterCase letter_case)
{
    // Folded alike, a set's letters and ranges ([A-Z], [!x]) fold with them.
    const std::string pattern = letter_case == LetterCase::ignored ? UpperAscii(typed) : typed;
    const std::string name = letter_case == LetterCase::ignored ? UpperAscii(text) : text;
    // After a '*' a mismatch retries one character further along the text;
    // only the last '*' needs retrying, so no input takes long.
    std::size_t p = 0, t = 0, star = kNone, resume = 0;
    while (t < name.size()) {
        if (p < pattern.size() && pattern[p] == '*') {
            star = ++p;
            resume = t;
            continue;
        }
        std::size_t next = p;
        const std::size_t taken = p < pattern.size() ? MatchElement(pattern, next, name, t) : 0;
        if (taken > 0) {
            p = next;
            t += taken;
            continue;
        }
        if (star == kNone)
            return false;
        p = star;
        resume += CharacterLength(static_cast<unsigned char>(name[resume]));
        t = resume;
    }
    while (p < pattern.size() && pattern[p] == '*')
        ++p;
    return p == pattern.size();
}

std::string SlashName(std::string name)
{
    std::replace(name.begin(), name.end(), '\\', '/');
    while (name.rfind("./", 0) == 0)
        name.erase(0, 2);
    while (name.size() > 1 && name.back() == '/')
        name.pop_back();
    return name;
}

bool PatternTakes(const std::string& pattern, const std::string& name, LetterCase letter_case)
{
    for (std::size_t end = name.find('/'); end != std::string::npos; end = name.find('/', end + 1))
        if (WildcardMatch(pattern, name.substr(0, end), letter_case))
            return true;
    return WildcardMatch(pattern, name, letter_case);
}

}  // namespace stubkit
