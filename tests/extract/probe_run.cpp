#include "probe_run.h"

#include <windows.h>

#include <fstream>
#include <iterator>
#include <stdexcept>

namespace proberun {

Outcome Run(const std::string& commandLine)
{
    constexpr DWORD kDeadlineMs = 120000;
    Outcome outcome;
    driver::StartedProcess process;
    if (!driver::Start(commandLine, &process))
        return outcome;
    const DWORD start = GetTickCount();
    while (GetTickCount() - start < kDeadlineMs) {
        if (WaitForSingleObject(process.process, 0) == WAIT_OBJECT_0) {
            DWORD code = 0;
            driver::WaitForExit(&process, &code, 0);
            outcome.ended = true;
            outcome.exitCode = code;
            return outcome;
        }
        HWND box = driver::WaitForWindow(process.id, driver::kMessageBoxClass, nullptr, 50);
        if (!box)
            continue;
        driver::SeenBox seen;
        if (driver::AnswerMessageBox(process.id, IDOK, &seen, 10000))
            outcome.boxes.push_back(seen);
    }
    driver::Kill(&process);
    return outcome;
}

ScratchFolder::ScratchFolder()
{
    static int made = 0;
    char temp[MAX_PATH] = {0};
    GetTempPathA(MAX_PATH, temp);
    path_ = std::string(temp) + "stubkit-extract-" + std::to_string(GetCurrentProcessId()) + "-" +
            std::to_string(++made);
    RemoveTree(path_);
    CreateDirectoryA(path_.c_str(), nullptr);
}

ScratchFolder::~ScratchFolder()
{
    RemoveTree(path_);
}

void RemoveTree(const std::string& path)
{
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((path + "\\*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            const std::string name = found.cFileName;
            if (name == "." || name == "..")
                continue;
            const std::string child = path + "\\" + name;
            if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                RemoveTree(child);
            } else {
                SetFileAttributesA(child.c_str(), FILE_ATTRIBUTE_NORMAL);
                DeleteFileA(child.c_str());
            }
        } while (FindNextFileA(search, &found));
        FindClose(search);
    }
    RemoveDirectoryA(path.c_str());
}

bool ReadOnlyFilesAreProtected()
{
    ScratchFolder scratch;
    const std::string path = scratch.Path() + "\\read-only";
    WriteFileBytes(path, std::vector<uint8_t>(1, 'x'));
    SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_READONLY);
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return true;
    CloseHandle(file);
    return false;
}

void WriteFileBytes(const std::string& path, const std::vector<uint8_t>& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (!out)
        throw std::runtime_error("cannot write " + path);
}

bool ReadFileBytes(const std::string& path, std::string* contents)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return false;
    contents->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return true;
}

}  // namespace proberun
