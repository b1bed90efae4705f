#include "test_installer.h"

#include <algorithm>
#include <stdexcept>

#include "stubkit/stream_encoder.h"
#include "test_paths.h"

namespace testinstaller {
namespace {

void PutU32(Bytes* out, uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        out->push_back(static_cast<uint8_t>(value >> (8 * i)));
}

void PutTime(Bytes* out, const FILETIME& time)
{
    PutU32(out, time.dwLowDateTime);
    PutU32(out, time.dwHighDateTime);
}

FILETIME TimeFrom(uint64_t value)
{
    FILETIME time;
    time.dwLowDateTime = static_cast<DWORD>(value);
    time.dwHighDateTime = static_cast<DWORD>(value >> 32);
    return time;
}

}  // namespace

PackedFile MakeFile(const std::string& name, const std::string& contents, int seed)
{
    // 2001-01-01, 2009-01-01 and 2005-01-01 in FILETIME units, plus odd offsets
    // that keep every 100 ns digit significant.
    const uint64_t base = 126227808000000000ull + 1234567ull * seed;
    PackedFile file;
    file.name = name;
    file.contents = contents;
    file.creation = TimeFrom(base + 1111111);
    file.access = TimeFrom(base + 2524608000000000ull + 3333333);
    file.write = TimeFrom(base + 1262304000000000ull + 5555555);
    return file;
}

uint32_t CrcValue(const std::string& contents)
{
    uint32_t crc = 0xFFFFFFFFu;
    for (unsigned char byte : contents) {
        crc ^= byte;
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 1) ? (crc >> 1) ^ 0xEDB88320u : crc >> 1;
    }
    return crc;
}

Bytes FileRecordBytes(const PackedFile& file)
{
    Bytes record;
    PutU32(&record, CrcValue(file.contents));
    PutU32(&record, static_cast<uint32_t>(file.contents.size()));
    PutTime(&record, file.creation);
    PutTime(&record, file.access);
    PutTime(&record, file.write);
    record.push_back(static_cast<uint8_t>(file.name.size()));
    record.insert(record.end(), file.name.begin(), file.name.end());
    return record;
}

Payload PackFiles(const std::vector<PackedFile>& files)
{
    Payload payload;
    std::string all;
    for (const PackedFile& file : files) {
        Bytes record = FileRecordBytes(file);
        payload.table.insert(payload.table.end(), record.begin(), record.end());
        all += file.contents;
    }
    payload.file_count = static_cast<uint32_t>(files.size());
    payload.total_size = static_cast<uint32_t>(all.size());
    payload.table_size = static_cast<uint32_t>(payload.table.size());
    payload.stream = stubkit::EncodeBuffer(reinterpret_cast<const uint8_t*>(all.data()), all.size(),
                                           stubkit::kFastestLevel);
    return payload;
}

Bytes PayloadBytes(const Payload& payload)
{
    Bytes out;
    PutU32(&out, payload.file_count);
    PutU32(&out, payload.total_size);
    PutU32(&out, payload.table_size);
    out.insert(out.end(), payload.table.begin(), payload.table.end());
    out.insert(out.end(), payload.stream.begin(), payload.stream.end());
    return out;
}

Bytes ProbeImage()
{
    std::string contents;
    if (!ReadFileBytes(testpaths::OwnFolder() + "extract-probe.exe", &contents))
        throw std::runtime_error("extract-probe.exe not found beside the test");
    return Bytes(contents.begin(), contents.end());
}

bool PatchSlot(Bytes* image, const std::string& marker, const std::string& text)
{
    const std::string needle = marker + '\0';
    auto found = std::search(image->begin(), image->end(), needle.begin(), needle.end());
    if (found == image->end())
        return false;
    std::copy(text.begin(), text.end(), found);
    *(found + text.size()) = 0;
    return true;
}

Bytes MakeInstaller(const Bytes& payload, const std::string& title, const std::string& stubSizeText)
{
    Bytes image = ProbeImage();
    const std::string size = stubSizeText.empty() ? std::to_string(image.size()) : stubSizeText;
    if (!PatchSlot(&image, "$$StubSize", size) || !PatchSlot(&image, "$$Title", title))
        throw std::runtime_error("configuration markers not found in extract-probe.exe");
    image.insert(image.end(), payload.begin(), payload.end());
    return image;
}

std::string SampleContents(size_t size, uint32_t seed)
{
    static const char* const kWords[] = {"alpha ", "bravo ", "charlie ", "delta\n", "echo ",
                                         "foxtrot ", "golf ", "hotel\r\n", "india ", "juliet "};
    std::string text;
    text.reserve(size + 16);
    uint32_t state = seed * 2654435761u + 1;
    while (text.size() < size) {
        state = state * 1664525u + 1013904223u;
        if ((state >> 28) == 0)
            text += static_cast<char>(state >> 8);   // a stray byte of any value now and then
        else
            text += kWords[(state >> 24) % 10];
    }
    text.resize(size);
    return text;
}

}  // namespace testinstaller
