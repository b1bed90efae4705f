// extract-probe FOLDER [unbuffered]: the installer's extraction core, drivable
// from outside. It carries the configuration record like the stub, so patching
// StubSize and appending a payload makes it an installer. It creates the
// uninstall data file in FOLDER (its InstallDir), then runs the installer's
// reading order and sink on its own file. "unbuffered" makes every read one
// ReadFile. Exit codes: 0 extracted, 1 ended by the sink, 2 a reported reader
// failure, 3 wrong arguments or no uninstall data file.
#include <windows.h>

#include "common/argument_vector.h"
#include "common/bounded_text.h"
#include "common/config_block.h"
#include "common/setup_globals.h"
#include "payload/crc32.h"
#include "payload/payload_reader.h"
#include "uninstall/uninstall_log.h"

static bool TakeArguments(void)
{
    int count = 0;
    char** vector = 0;
    GetArgumentVector(&count, &vector);
    ReadBytesUnbuffered = count == 3 && TextLength(vector[2]) == 10 &&
                          TextEndsWithIgnoringCase(vector[2], "unbuffered");
    return (count == 2 || ReadBytesUnbuffered) && vector[1][0] != '\0' &&
           TextCopy(InstallDir, sizeof InstallDir, vector[1]) &&
           (TextEndsWithIgnoringCase(InstallDir, "\\") || TextAppend(InstallDir, sizeof InstallDir, "\\"));
}

extern "C" void __stdcall ProbeEntry()
{
    if (!TakeArguments() || !CreateUninstallLog(Config.Title))
        ExitProcess(3);
    BuildCrcTable();
    PayloadResult result = ReadPayloadTable();
    if (result == PayloadExtracted)
        result = ExtractPayload();
    CloseUninstallLog();
    ExitProcess(result == PayloadExtracted ? 0 : 2);
}
