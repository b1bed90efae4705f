// Reader side of the uninstall data file.
#include "uninstall/uninstall_log.h"

bool ReadLogLine(char* buffer, int capacity, HANDLE file)
{
    // One read per byte and no read-ahead: the file position always rests right
    // behind the last byte consumed.
    bool atEnd = false;
    int length = 0;
    while (length < capacity) {
        DWORD got = 0;
        if (!ReadFile(file, buffer + length, 1, &got, 0) || got != 1) {
            atEnd = true;
            break;
        }
        if (buffer[length] == '\n')
            break;
        ++length;
    }
    buffer[length] = '\0';
    return atEnd;
}
