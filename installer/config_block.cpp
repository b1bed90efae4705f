// The configuration record of the unpatched stub. It is the only definition of
// the record, in a PE section of its own (".stubcfg") so the packer finds it
// in any stub; every slot starts with its marker text, the rest is zero.
// Kept in its own file so no other code sees the initial values and folds
// them into constants: the packer changes them after the build.
#include "common/config_block.h"

#define ROW(table, nn) { table##_LINK nn, table##_FILE nn }
#define START_MENU_LINK CONFIG_MARKER_START_MENU_LINK
#define START_MENU_FILE CONFIG_MARKER_START_MENU_FILE
#define DESKTOP_LINK CONFIG_MARKER_DESKTOP_LINK
#define DESKTOP_FILE CONFIG_MARKER_DESKTOP_FILE

__attribute__((section(".stubcfg"), used))
const InstallerConfig Config = {
    CONFIG_MARKER_STUB_SIZE,
    CONFIG_MARKER_TITLE,
    CONFIG_MARKER_DEFAULT_FOLDER,
    CONFIG_MARKER_PROGRAM_GROUP,
    CONFIG_MARKER_RUN_AFTER_INSTALL,
    {
        ROW(START_MENU, "00"), ROW(START_MENU, "01"), ROW(START_MENU, "02"),
        ROW(START_MENU, "03"), ROW(START_MENU, "04"), ROW(START_MENU, "05"),
        ROW(START_MENU, "06"), ROW(START_MENU, "07"), ROW(START_MENU, "08"),
        ROW(START_MENU, "09"),
    },
    {
        ROW(DESKTOP, "00"), ROW(DESKTOP, "01"), ROW(DESKTOP, "02"),
        ROW(DESKTOP, "03"), ROW(DESKTOP, "04"), ROW(DESKTOP, "05"),
        ROW(DESKTOP, "06"), ROW(DESKTOP, "07"),
    },
};
