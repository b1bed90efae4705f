// Which names the installer creates, and where. Compiled into the installer
// and into the host tool alike, so `build`, `test`, `list`, `extract` and the
// installer decide every name of the file table the same way.
//
// A table name is a path below InstallDir whose folders are separated by a
// backslash only: the installer creates folders at backslashes and nowhere
// else. Every name this rule accepts is created exactly where it reads, and
// two accepted names land on one file only when they are equal but for letter
// case (which the tool checks across the whole table).
#ifndef STUBKIT_NAME_RULES_H
#define STUBKIT_NAME_RULES_H

enum NameFault {
    NameInstallable = 0,
    NameEmptyPart,            // empty, or a backslash at its start, at its end or doubled
    NameForbiddenCharacter,   // < > : " / | ? * or a control character (':' opens a stream or a drive)
    NameTrailingDotOrBlank,   // Windows drops them, so "a." is "a", and "." and ".." are folders
    NameDevice,               // a device in every folder: CON, NUL, COM1, LPT², ...
    NameShortAlias,           // the shape of a generated 8.3 name (LONGFI~1.TXT) that another file may own
    NameInstallerOwn,         // davirado.exe or davirado.dat at the top, the installer's own files
    NameLoneLeadByte          // ends in the first byte of a two-byte character, which the system drops
};

// The bytes that open a two-byte character in the code page the names are in
// (932, 936, 949, 950), one bit per byte value; all clear, or no set at all,
// for a single-byte code page. The byte after a lead byte is its trail byte
// whatever its value: a trail byte 0x5C is part of a character, no separator.
struct LeadByteSet {
    unsigned char bits[32];
};

inline bool IsLeadByte(const LeadByteSet* lead, char c)
{
    const unsigned char byte = static_cast<unsigned char>(c);
    return lead != 0 && (lead->bits[byte >> 3] >> (byte & 7) & 1) != 0;
}

// The length of the character at `text[at]` within `length` bytes: 2 for a
// lead byte with its trail, else 1 (a lead byte at the end stands alone).
inline unsigned CharacterLength(const LeadByteSet* lead, const char* text, unsigned at, unsigned length)
{
    return IsLeadByte(lead, text[at]) && at + 1 < length ? 2 : 1;
}

// True when the component names a device rather than a file: its base name
// (up to the first dot, trailing blanks dropped, any letter case) is CON,
// PRN, AUX, NUL, CONIN$, CONOUT$, or COM or LPT followed by a digit or by
// one of the superscripts 1, 2, 3 of code page 1252 (bytes 0xB9, 0xB2,
// 0xB3). Windows opens the device for such a name in any folder.
bool IsDeviceName(const char* component, unsigned length);

// Judges one component of `length` bytes (no separator inside), in the code
// page whose lead bytes `lead` holds (0: a single-byte one).
NameFault JudgeNamePart(const char* part, unsigned length, const LeadByteSet* lead);

// Judges a file-table name of `length` bytes; no terminator is needed.
NameFault JudgeTableName(const char* name, unsigned length, const LeadByteSet* lead);

#endif
