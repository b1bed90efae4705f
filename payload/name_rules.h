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
    NameInstallerOwn          // davirado.exe or davirado.dat at the top, the installer's own files
};

// True when the component names a device rather than a file: its base name
// (up to the first dot, trailing blanks dropped, any letter case) is CON,
// PRN, AUX, NUL, CONIN$, CONOUT$, or COM or LPT followed by a digit or by
// one of the superscripts 1, 2, 3 of code page 1252 (bytes 0xB9, 0xB2,
// 0xB3). Windows opens the device for such a name in any folder.
bool IsDeviceName(const char* component, unsigned length);

// Judges one component of `length` bytes (no separator inside).
NameFault JudgeNamePart(const char* part, unsigned length);

// Judges a file-table name of `length` bytes; no terminator is needed.
NameFault JudgeTableName(const char* name, unsigned length);

#endif
