#include "installer_config.h"

int CountShortcutRows(const ShortcutEntry* table)
{
    int rows = 0;
    while (rows < ShortcutRows && table[rows].LinkName[0] != '\0')
        ++rows;
    return rows;
}
