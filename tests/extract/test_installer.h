// Test installers made from extract-probe.exe (StubSize and title patched, a
// payload appended), running them with their boxes answered, and file helpers.
#ifndef STUBKIT_TEST_INSTALLER_H
#define STUBKIT_TEST_INSTALLER_H

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "window_driver.h"

namespace testinstaller {

using Bytes = std::string;

struct PackedFile {
    std::string name;   // relative to the installation folder
    Bytes contents;
    FILETIME creation, access, write;
};

struct Payload {
    uint32_t file_count = 0, total_size = 0, table_size = 0;
    Bytes table, stream;
};

PackedFile MakeFile(const std::string& name, const Bytes& contents, int seed);   // times distinct by seed
Bytes FileRecordBytes(const PackedFile& file);   // crc_value computed apart from the installer's table
Payload PackFiles(const std::vector<PackedFile>& files);
Bytes PayloadBytes(const Payload& payload);      // header, table and stream
Bytes ProbeImage();
bool PatchSlot(Bytes* image, const std::string& marker, const std::string& text);
// The probe with StubSize set to its length (or `stubSize`) and the title set, then `payload`.
Bytes MakeInstaller(const Bytes& payload, const std::string& title, const std::string& stubSize = "");
Bytes SampleContents(size_t size, uint32_t seed);   // words and stray bytes: compresses a little, fast

struct Outcome {
    bool ended = false;   // false: killed at the deadline
    DWORD exitCode = 0;
    std::vector<driver::SeenBox> boxes;   // every box, answered with OK
};

Outcome Run(const std::string& commandLine);

// A fresh folder under TEMP, removed with everything in it when the object goes.
struct ScratchFolder {
    ScratchFolder();
    ~ScratchFolder();
    std::string path;   // without a trailing backslash
};

void WriteFileBytes(const std::string& path, const Bytes& bytes);
bool ReadFileBytes(const std::string& path, Bytes* contents);

}  // namespace testinstaller

#endif
