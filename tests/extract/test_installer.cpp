#include "test_installer.h"

#include <fstream>
#include <iterator>
#include <stdexcept>

#include "stubkit/stream_encoder.h"
#include "test_paths.h"

namespace testinstaller {

static Bytes U32(uint32_t value) { return {char(value), char(value >> 8), char(value >> 16), char(value >> 24)}; }

static FILETIME TimeFrom(uint64_t value) { return FILETIME{DWORD(value), DWORD(value >> 32)}; }

PackedFile MakeFile(const std::string& name, const Bytes& contents, int seed)
{
    // 2001, 2009 and 2005 in FILETIME units, with odd offsets in every 100 ns digit.
    const uint64_t base = 126227808000000000ull + 1234567ull * seed;
    return {name, contents, TimeFrom(base + 1111111), TimeFrom(base + 2524608000000000ull + 3333333),
            TimeFrom(base + 1262304000000000ull + 5555555)};
}

Bytes FileRecordBytes(const PackedFile& file)
{
    uint32_t crc = 0xFFFFFFFFu;
    for (unsigned char byte : file.contents) {
        crc ^= byte;
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 1) ? (crc >> 1) ^ 0xEDB88320u : crc >> 1;
    }
    Bytes record = U32(crc) + U32(static_cast<uint32_t>(file.contents.size()));
    for (const FILETIME& time : {file.creation, file.access, file.write})
        record += U32(time.dwLowDateTime) + U32(time.dwHighDateTime);
    return record + static_cast<char>(file.name.size()) + file.name;
}

Payload PackFiles(const std::vector<PackedFile>& files)
{
    Payload payload;
    Bytes all;
    for (const PackedFile& file : files) {
        payload.table += FileRecordBytes(file);
        all += file.contents;
    }
    payload.file_count = static_cast<uint32_t>(files.size());
    payload.total_size = static_cast<uint32_t>(all.size());
    payload.table_size = static_cast<uint32_t>(payload.table.size());
    const std::vector<uint8_t> stream = stubkit::EncodeBuffer(reinterpret_cast<const uint8_t*>(all.data()),
                                                              all.size(), stubkit::kFastestLevel);
    payload.stream.assign(stream.begin(), stream.end());
    return payload;
}

Bytes PayloadBytes(const Payload& p) { return U32(p.file_count) + U32(p.total_size) + U32(p.table_size) + p.table + p.stream; }

Bytes ProbeImage()
{
    Bytes image;
    if (!ReadFileBytes(testpaths::OwnFolder() + "extract-probe.exe", &image))
        throw std::runtime_error("extract-probe.exe not found beside the test");
    return image;
}

bool PatchSlot(Bytes* image, const std::string& marker, const std::string& text)
{
    const size_t at = image->find(marker + '\0');
    if (at != Bytes::npos)
        image->replace(at, text.size() + 1, text + '\0');
    return at != Bytes::npos;
}

Bytes MakeInstaller(const Bytes& payload, const std::string& title, const std::string& stubSize)
{
    Bytes image = ProbeImage();
    if (!PatchSlot(&image, "$$StubSize", stubSize.empty() ? std::to_string(image.size()) : stubSize) ||
        !PatchSlot(&image, "$$Title", title))
        throw std::runtime_error("configuration markers not found in extract-probe.exe");
    return image + payload;
}

Bytes SampleContents(size_t size, uint32_t seed)
{
    static const char* const kWords[] = {"alpha ", "bravo ", "charlie ", "delta\n", "echo ",
                                         "foxtrot ", "golf ", "hotel\r\n", "india ", "juliet "};
    Bytes text;
    for (uint32_t state = seed * 2654435761u + 1; text.size() < size;) {
        state = state * 1664525u + 1013904223u;
        text += (state >> 28) == 0 ? Bytes(1, static_cast<char>(state >> 8)) : kWords[(state >> 24) % 10];
    }
    text.resize(size);
    return text;
}

Outcome Run(const std::string& commandLine)
{
    Outcome outcome;
    driver::StartedProcess process;
    if (!driver::Start(commandLine, &process))
        return outcome;
    for (const DWORD start = GetTickCount(); GetTickCount() - start < 120000;) {
        if (WaitForSingleObject(process.process, 0) == WAIT_OBJECT_0) {
            outcome.ended = driver::WaitForExit(&process, &outcome.exitCode, 0);
            return outcome;
        }
        driver::SeenBox seen;
        if (driver::WaitForWindow(process.id, driver::kMessageBoxClass, nullptr, 50) &&
            driver::AnswerMessageBox(process.id, IDOK, &seen, 10000))
            outcome.boxes.push_back(seen);
    }
    driver::Kill(&process);
    return outcome;
}

static void RemoveTree(const std::string& path)
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

ScratchFolder::ScratchFolder()
{
    static int made = 0;
    char temp[MAX_PATH] = {0};
    GetTempPathA(MAX_PATH, temp);
    path = temp + ("stubkit-extract-" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(++made));
    RemoveTree(path);
    CreateDirectoryA(path.c_str(), nullptr);
}

ScratchFolder::~ScratchFolder() { RemoveTree(path); }

void WriteFileBytes(const std::string& path, const Bytes& bytes)
{
    if (!(std::ofstream(path, std::ios::binary) << bytes))
        throw std::runtime_error("cannot write " + path);
}

bool ReadFileBytes(const std::string& path, Bytes* contents)
{
    std::ifstream in(path, std::ios::binary);
    contents->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return in.is_open();
}

}  // namespace testinstaller
