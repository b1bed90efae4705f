// extract-probe FOLDER [unbuffered]
//
// The installer's extraction core, drivable from outside. It carries the
// configuration record like the stub, so patching StubSize and appending a
// payload makes it an installer. It takes FOLDER as InstallDir, creates the
// uninstall data file there with its title line, then runs the installer's
// reading order and sink on its own file. Messages go through ShowError with
// no owner window. "unbuffered" makes every read one ReadFile, for measuring.
//
// Exit codes: 0 extracted, 1 ended by the sink, 2 a reported reader failure,
// 3 wrong arguments or no uninstall data file.
#include <windows.h>

#include "common/argument_vector.h"
#include "common/bounded_text.h"
#include "installer/config_block.h"
#include "installer/setup_globals.h"
#include "payload/crc32.h"
#include "payload/payload_reader.h"
#include "uninstall/log_writer.h"

enum { ExitExtracted = 0, ExitReaderFailure = 2, ExitUsage = 3 };

static bool TakeArguments(void)
{
    int count = 0;
    char** vector = 0;
    GetArgumentVector(&count, &vector);
    if (count < 2 || count > 3 || vector[1][0] == '\0')
        return false;
    if (count == 3) {
        if (!TextEndsWithIgnoringCase(vector[2], "unbuffered") || TextLength(vector[2]) != 10)
            return false;
        ReadBytesUnbuffered = true;
    }
    if (!TextCopy(InstallDir, sizeof InstallDir, vector[1]))
        return false;
    return TextEndsWithIgnoringCase(InstallDir, "\\") || TextAppend(InstallDir, sizeof InstallDir, "\\");
}

extern "C" void __stdcall ProbeEntry()
{
    if (!TakeArguments() || !CreateUninstallLog(Config.Title))
        ExitProcess(ExitUsage);
    BuildCrcTable();
    PayloadResult result = ExtractPayload();
    CloseUninstallLog();
    ExitProcess(result == PayloadExtracted ? ExitExtracted : ExitReaderFailure);
}
