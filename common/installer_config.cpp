#include "installer_config.h"

#include <stdlib.h>

int CountShortcutRows(const ShortcutEntry* table)
{
    int rows = 0;
    while (rows < ShortcutRows && table[rows].LinkName[0] != '\0')
        ++rows;
    return rows;
}

int ConfiguredStubSize(const InstallerConfig* config)
{
    // The slot is NUL-terminated by the packer; the last byte is forced so a
    // damaged slot can never make atoi read past the field.
    char text[StubSizeSlotSize];
    for (int i = 0; i < StubSizeSlotSize - 1; ++i)
        text[i] = config->StubSize[i];
    text[StubSizeSlotSize - 1] = '\0';
    return atoi(text);
}
