// The configuration record patched into every product installer.
//
// The packer finds this record in the stub file and writes each value over the
// start of its slot, so the layout below is a file format: every offset and size
// is fixed and checked at compile time. Portable: the host tool includes it too.
#ifndef STUBKIT_INSTALLER_CONFIG_H
#define STUBKIT_INSTALLER_CONFIG_H

#include <stddef.h>

enum {
    ConfigTextSlotSize = 288,     // 260 bytes of text and NUL, 28 bytes of padding
    ConfigTextCapacity = 260,     // at most 259 characters plus the NUL
    StubSizeSlotSize = 32,
    ShortcutRows = 16,
    StartMenuMarkedRows = 10,     // rows that carry marker texts in the unpatched stub
    DesktopMarkedRows = 8,
    ShortcutTextSize = 260,
    InstallerConfigSize = 17824,
    MaxTitleLength = 207          // keeps the uninstall key path within 259 characters
};

struct ShortcutEntry {
    char LinkName[ShortcutTextSize];
    char TargetFile[ShortcutTextSize];
};

struct InstallerConfig {
    char StubSize[StubSizeSlotSize];
    char Title[ConfigTextSlotSize];
    char DefaultFolder[ConfigTextSlotSize];
    char ProgramGroup[ConfigTextSlotSize];
    char RunAfterInstall[ConfigTextSlotSize];
    ShortcutEntry StartMenuShortcuts[ShortcutRows];
    ShortcutEntry DesktopShortcuts[ShortcutRows];
};

static_assert(sizeof(ShortcutEntry) == 520, "ShortcutEntry is 520 bytes");
static_assert(offsetof(ShortcutEntry, LinkName) == 0, "LinkName offset");
static_assert(offsetof(ShortcutEntry, TargetFile) == 260, "TargetFile offset");
static_assert(sizeof(InstallerConfig) == InstallerConfigSize, "InstallerConfig is 17,824 bytes");
static_assert(offsetof(InstallerConfig, StubSize) == 0, "StubSize offset");
static_assert(offsetof(InstallerConfig, Title) == 32, "Title offset");
static_assert(offsetof(InstallerConfig, DefaultFolder) == 320, "DefaultFolder offset");
static_assert(offsetof(InstallerConfig, ProgramGroup) == 608, "ProgramGroup offset");
static_assert(offsetof(InstallerConfig, RunAfterInstall) == 896, "RunAfterInstall offset");
static_assert(offsetof(InstallerConfig, StartMenuShortcuts) == 1184, "StartMenuShortcuts offset");
static_assert(offsetof(InstallerConfig, DesktopShortcuts) == 9504, "DesktopShortcuts offset");

// Marker texts of the unpatched stub. Row markers end in a two-digit row number,
// e.g. "$$DesktopShortcutLink-07".
#define CONFIG_MARKER_STUB_SIZE "$$StubSize"
#define CONFIG_MARKER_TITLE "$$Title"
#define CONFIG_MARKER_DEFAULT_FOLDER "$$DefaultFolder"
#define CONFIG_MARKER_PROGRAM_GROUP "$$ProgramGroup"
#define CONFIG_MARKER_RUN_AFTER_INSTALL "$$RunAfterInstall"
#define CONFIG_MARKER_START_MENU_LINK "$$StartMenuShortcutLink-"
#define CONFIG_MARKER_START_MENU_FILE "$$StartMenuShortcutFile-"
#define CONFIG_MARKER_DESKTOP_LINK "$$DesktopShortcutLink-"
#define CONFIG_MARKER_DESKTOP_FILE "$$DesktopShortcutFile-"

// Number of used rows of a shortcut table: row 0 empty means none; otherwise
// rows up to (not including) the first empty LinkName, never more than 16.
// Only LinkName decides; an empty TargetFile in a used row is still a row.
int CountShortcutRows(const ShortcutEntry* table);

// The stub's length as `atoi` reads the StubSize slot: leading blanks, an
// optional sign, digits up to the first non-digit. The unpatched marker and
// any other non-number read as 0, meaning "never configured".
int ConfiguredStubSize(const InstallerConfig* config);

#endif
