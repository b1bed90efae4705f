// Test installers made from extract-probe.exe: the probe's bytes with its
// StubSize (and title) slot patched, followed by a payload, packed in-process
// with the host encoder or put together by hand for damaged cases.
#ifndef STUBKIT_TEST_INSTALLER_H
#define STUBKIT_TEST_INSTALLER_H

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "probe_run.h"

namespace testinstaller {

using Bytes = std::vector<uint8_t>;
using proberun::ReadFileBytes;
using proberun::WriteFileBytes;

struct PackedFile {
    std::string name;       // relative to the installation folder
    std::string contents;
    FILETIME creation;
    FILETIME access;
    FILETIME write;
};

// A file with distinct, recognisable times derived from `seed`.
PackedFile MakeFile(const std::string& name, const std::string& contents, int seed = 0);

// crc_value of a file: the CRC-32 register without its final inversion,
// computed bit by bit here, independently of the installer's table.
uint32_t CrcValue(const std::string& contents);

// One FileRecord: fixed part, name length, name.
Bytes FileRecordBytes(const PackedFile& file);

struct Payload {
    uint32_t file_count = 0;
    uint32_t total_size = 0;
    uint32_t table_size = 0;
    Bytes table;
    Bytes stream;
};

// A well-formed payload: records in order, contents concatenated and encoded.
Payload PackFiles(const std::vector<PackedFile>& files);

// Header, table and stream as they follow the stub.
Bytes PayloadBytes(const Payload& payload);

// The probe's image as built.
Bytes ProbeImage();

// Writes `text` and a NUL over the slot that starts with `marker` (a marker
// text followed by its NUL). Returns false when the marker is not found.
bool PatchSlot(Bytes* image, const std::string& marker, const std::string& text);

// The probe with StubSize set to its own length (or `stubSizeText`) and the
// title set, followed by `payload`.
Bytes MakeInstaller(const Bytes& payload, const std::string& title,
                    const std::string& stubSizeText = std::string());

// Pseudo-random text with repeats, so it compresses a little and quickly.
std::string SampleContents(size_t size, uint32_t seed);

}  // namespace testinstaller

#endif
