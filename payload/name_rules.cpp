#include "payload/name_rules.h"

static char UpperAscii(char c)
{
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

// `word` is upper case; `text` matches it in any letter case.
static bool EqualsIgnoringCase(const char* text, unsigned length, const char* word)
{
    unsigned i = 0;
    for (; i < length; ++i)
        if (word[i] == '\0' || UpperAscii(text[i]) != word[i])
            return false;
    return word[i] == '\0';
}

static bool IsNumberedPort(const char* base, unsigned length)
{
    return length == 4 && (EqualsIgnoringCase(base, 3, "COM") || EqualsIgnoringCase(base, 3, "LPT")) &&
           base[3] >= '0' && base[3] <= '9';
}

bool IsDeviceName(const char* component, unsigned length)
{
    // Windows ignores what follows the first dot and blanks before it:
    // "nul.txt", "AUX .dat" and "com1 " are the devices too.
    unsigned base = 0;
    while (base < length && component[base] != '.')
        ++base;
    while (base > 0 && component[base - 1] == ' ')
        --base;
    static const char* const devices[] = { "CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$" };
    for (unsigned i = 0; i < sizeof devices / sizeof devices[0]; ++i)
        if (EqualsIgnoringCase(component, base, devices[i]))
            return true;
    return IsNumberedPort(component, base);
}

static bool IsParentComponent(const char* start, const char* end)
{
    // Windows drops trailing dots and blanks, so "..", "... " and ". ." all
    // climb one level.
    int dots = 0;
    for (const char* c = start; c < end; ++c) {
        if (*c == '.')
            ++dots;
        else if (*c != ' ')
            return false;
    }
    return dots >= 2;
}

bool IsInstallableName(const char* name)
{
    if (name[0] == '\\' || name[0] == '/')
        return false;
    const char* component = name;
    for (const char* c = name;; ++c) {
        if (*c == ':')
            return false;
        if (*c != '\\' && *c != '/' && *c != '\0')
            continue;
        if (IsParentComponent(component, c) ||
            IsDeviceName(component, static_cast<unsigned>(c - component)))
            return false;
        if (*c == '\0')
            return true;
        component = c + 1;
    }
}
