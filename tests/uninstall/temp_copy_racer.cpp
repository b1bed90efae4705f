// temp-copy-racer COPY: what another program of the same user could do to the
// uninstaller's TEMP copy while it is written and started. It tries, over and
// over, to open COPY for writing and for deleting, until a program of COPY's
// file name runs (or 30 s have passed). Exit code 0: the copy started and was
// never opened before; 1: it was opened before it started; 2: it never started.
#include <windows.h>
#include <tlhelp32.h>

#include <cstring>
#include <string>

namespace {

bool IsRunning(const std::string& fileName)
{
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE)
        return false;
    PROCESSENTRY32 entry;
    entry.dwSize = sizeof entry;
    bool found = false;
    for (BOOL more = Process32First(snapshot, &entry); more && !found; more = Process32Next(snapshot, &entry)) {
        const char* base = std::strrchr(entry.szExeFile, '\\');
        found = lstrcmpiA(base ? base + 1 : entry.szExeFile, fileName.c_str()) == 0;
    }
    CloseHandle(snapshot);
    return found;
}

// True when the copy could be opened with `access`, as a swap would need.
bool Opens(const char* path, DWORD access)
{
    HANDLE file = CreateFileA(path, access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    CloseHandle(file);
    return true;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 2)
        return 3;
    const std::string path(argv[1]);
    const std::string fileName = path.substr(path.find_last_of('\\') + 1);
    for (const DWORD start = GetTickCount(); GetTickCount() - start < 30000;) {
        if (IsRunning(fileName))
            return 0;
        // An open that succeeded just as the copy started cannot be told from
        // one before; only an open with the copy still not running counts.
        if ((Opens(argv[1], GENERIC_WRITE) || Opens(argv[1], DELETE)) && !IsRunning(fileName))
            return 1;
    }
    return 2;
}
