// Scratch folders and whole-file reads and writes for the extraction tests.
#ifndef STUBKIT_SCRATCH_FILES_H
#define STUBKIT_SCRATCH_FILES_H

#include <windows.h>

#include <cstdint>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>

namespace scratchfiles {

using Bytes = std::string;

inline void WriteFileBytes(const std::string& path, const Bytes& bytes)
{
    if (!(std::ofstream(path, std::ios::binary) << bytes))
        throw std::runtime_error("cannot write " + path);
}

inline bool ReadFileBytes(const std::string& path, Bytes* contents)
{
    std::ifstream in(path, std::ios::binary);
    contents->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return in.is_open();
}

// Words and stray bytes: compresses a little, and fast.
inline Bytes SampleContents(size_t size, uint32_t seed)
{
    static const char* const kWords[] = {"alpha ", "bravo ", "charlie ", "delta\n", "echo ",
                                         "foxtrot ", "golf ", "hotel\r\n", "india ", "juliet "};
    Bytes text;
    for (uint32_t state = seed * 2654435761u + 1; text.size() < size;) {
        state = state * 1664525u + 1013904223u;
        text += (state >> 28) == 0 ? Bytes(1, static_cast<char>(state >> 8)) : kWords[(state >> 24) % 10];
    }
    return text.substr(0, size);
}

inline void RemoveTree(const std::string& path)
{
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((path + "\\*").c_str(), &found);
    for (bool more = search != INVALID_HANDLE_VALUE; more; more = FindNextFileA(search, &found)) {
        const std::string name = found.cFileName, child = path + "\\" + name;
        SetFileAttributesA(child.c_str(), FILE_ATTRIBUTE_NORMAL);
        if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
            DeleteFileA(child.c_str());
        else if (name != "." && name != "..")
            RemoveTree(child);
    }
    FindClose(search);
    RemoveDirectoryA(path.c_str());
}

// A fresh folder under TEMP, removed with everything in it when the object goes.
struct ScratchFolder {
    ScratchFolder()
    {
        static int made = 0;
        char temp[MAX_PATH] = {0};
        GetTempPathA(MAX_PATH, temp);
        path = temp + ("stubkit-extract-" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(++made));
        RemoveTree(path);
        CreateDirectoryA(path.c_str(), nullptr);
    }
    ~ScratchFolder() { RemoveTree(path); }
    std::string path;   // without a trailing backslash
};

}  // namespace scratchfiles

#endif
