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

// Windows takes the superscript digits of COM and LPT as port numbers too.
static bool IsPortNumber(char c)
{
    const unsigned char byte = static_cast<unsigned char>(c);
    return (byte >= '0' && byte <= '9') || byte == 0xB9 || byte == 0xB2 || byte == 0xB3;
}

static bool IsNumberedPort(const char* base, unsigned length)
{
    return length == 4 && (EqualsIgnoringCase(base, 3, "COM") || EqualsIgnoringCase(base, 3, "LPT")) &&
           IsPortNumber(base[3]);
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

// A base of at most 8 characters ending in '~' and digits, and an extension
// of at most 3: the form Windows gives the short name of a long one. Such a
// name may already belong to another file in the folder, packed or not.
static bool HasShortAliasShape(const char* part, unsigned length)
{
    unsigned base = 0;
    while (base < length && part[base] != '.')
        ++base;
    if (base > 8 || length - base > 4)
        return false;
    unsigned digits = 0;
    while (digits < base && part[base - 1 - digits] >= '0' && part[base - 1 - digits] <= '9')
        ++digits;
    return digits > 0 && digits < base && part[base - 1 - digits] == '~';
}

static bool IsForbiddenCharacter(char c)
{
    static const char forbidden[] = "<>:\"/|?*";
    if (static_cast<unsigned char>(c) < 0x20)
        return true;
    for (const char* f = forbidden; *f != '\0'; ++f)
        if (*f == c)
            return true;
    return false;
}

NameFault JudgeNamePart(const char* part, unsigned length, const LeadByteSet* lead)
{
    if (length == 0)
        return NameEmptyPart;
    for (unsigned i = 0; i < length; i += CharacterLength(lead, part, i, length)) {
        if (IsLeadByte(lead, part[i]) && i + 1 == length)
            return NameLoneLeadByte;
        if (!IsLeadByte(lead, part[i]) && IsForbiddenCharacter(part[i]))
            return NameForbiddenCharacter;
    }
    if (part[length - 1] == '.' || part[length - 1] == ' ')
        return NameTrailingDotOrBlank;
    if (IsDeviceName(part, length))
        return NameDevice;
    if (HasShortAliasShape(part, length))
        return NameShortAlias;
    return NameInstallable;
}

NameFault JudgeTableName(const char* name, unsigned length, const LeadByteSet* lead)
{
    unsigned start = 0;
    for (unsigned end = 0; end <= length; ++end) {
        if (end < length && name[end] != '\\') {
            end += CharacterLength(lead, name, end, length) - 1;
            continue;
        }
        NameFault fault = JudgeNamePart(name + start, end - start, lead);
        if (fault != NameInstallable)
            return fault;
        start = end + 1;
    }
    if (EqualsIgnoringCase(name, length, "DAVIRADO.EXE") || EqualsIgnoringCase(name, length, "DAVIRADO.DAT"))
        return NameInstallerOwn;
    return NameInstallable;
}
