// Scratch folders, whole files and sample contents for the extraction tests.
#ifndef STUBKIT_SCRATCH_FILES_H
#define STUBKIT_SCRATCH_FILES_H

#include <windows.h>

#include <cstdint>
#include <filesystem>
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

inline Bytes ReadFileBytes(const std::string& path)   // empty when missing
{
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
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

// A fresh folder under TEMP, removed with everything in it when the object goes.
struct ScratchFolder {
    ScratchFolder() { std::filesystem::create_directory(path); }
    ~ScratchFolder() { std::filesystem::remove_all(path, ignored); }
    std::error_code ignored;
    const std::string path = (std::filesystem::temp_directory_path() / "stubkit-extract-").string() +
                             std::to_string(GetCurrentProcessId()) + "-" + std::to_string(++made);
    static inline int made = 0;
};

}  // namespace scratchfiles

#endif
