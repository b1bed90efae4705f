// Packs a set of files into an installer made from extract-probe.exe, for the
// extraction benchmark (the packer proper may not exist yet when it runs):
//
//   extract-bench-packer PROBE.exe BASEDIR LEVEL OUT.exe < relative paths
//
// Reads relative paths, one a line, under BASEDIR; names are stored with
// backslashes, times from the files' own. Prints the installer's sizes.
#include <sys/stat.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <vector>

#include "payload/crc32.h"
#include "stubkit/stream_encoder.h"

namespace {

using Bytes = std::vector<uint8_t>;

void PutU32(Bytes* out, uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        out->push_back(static_cast<uint8_t>(value >> (8 * i)));
}

void PutFileTime(Bytes* out, const timespec& time)
{
    // 100 ns units since 1601-01-01.
    const uint64_t value = (static_cast<uint64_t>(time.tv_sec) + 11644473600ull) * 10000000ull +
                           static_cast<uint64_t>(time.tv_nsec) / 100;
    PutU32(out, static_cast<uint32_t>(value));
    PutU32(out, static_cast<uint32_t>(value >> 32));
}

Bytes ReadAll(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw std::runtime_error("cannot read " + path);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void PatchSlot(Bytes* image, const std::string& marker, const std::string& text)
{
    const std::string needle = marker + '\0';
    auto found = std::search(image->begin(), image->end(), needle.begin(), needle.end());
    if (found == image->end())
        throw std::runtime_error("marker " + marker + " not found in the probe");
    std::copy(text.begin(), text.end(), found);
    *(found + text.size()) = 0;
}

void AppendRecord(Bytes* table, const std::string& name, const Bytes& contents, const struct stat& info)
{
    std::string stored = name;
    std::replace(stored.begin(), stored.end(), '/', '\\');
    if (stored.size() > 255)
        throw std::runtime_error("name too long: " + name);
    PutU32(table, UpdateCrc(CrcInitial, contents.data(), static_cast<uint32_t>(contents.size())));
    PutU32(table, static_cast<uint32_t>(contents.size()));
    PutFileTime(table, info.st_mtim);
    PutFileTime(table, info.st_atim);
    PutFileTime(table, info.st_mtim);
    table->push_back(static_cast<uint8_t>(stored.size()));
    table->insert(table->end(), stored.begin(), stored.end());
}

int Run(const std::string& probePath, const std::string& base, int level, const std::string& outPath)
{
    BuildCrcTable();
    Bytes table, stream;
    uint32_t count = 0;
    uint64_t total = 0;
    stubkit::StreamEncoder encoder(level, [&](const uint8_t* bytes, size_t size) {
        stream.insert(stream.end(), bytes, bytes + size);
    });
    for (std::string name; std::getline(std::cin, name);) {
        if (name.empty())
            continue;
        const std::string path = base + "/" + name;
        struct stat info;
        if (stat(path.c_str(), &info) != 0)
            throw std::runtime_error("cannot stat " + path);
        const Bytes contents = ReadAll(path);
        AppendRecord(&table, name, contents, info);
        encoder.Write(contents.data(), contents.size());
        total += contents.size();
        ++count;
    }
    encoder.Finish();
    if (total >= 0x80000000ull)
        throw std::runtime_error("more than 2 GiB of files");

    Bytes image = ReadAll(probePath);
    PatchSlot(&image, "$$StubSize", std::to_string(image.size()));
    PatchSlot(&image, "$$Title", "Extraction benchmark");
    const size_t stubSize = image.size();
    PutU32(&image, count);
    PutU32(&image, static_cast<uint32_t>(total));
    PutU32(&image, static_cast<uint32_t>(table.size()));
    image.insert(image.end(), table.begin(), table.end());
    image.insert(image.end(), stream.begin(), stream.end());
    std::ofstream out(outPath, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(image.data()), static_cast<std::streamsize>(image.size()));
    if (!out)
        throw std::runtime_error("cannot write " + outPath);
    std::printf("files %u bytes %llu stub %zu table %zu stream %zu\n", count,
                static_cast<unsigned long long>(total), stubSize, table.size(), stream.size());
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 5) {
        std::fprintf(stderr, "usage: %s PROBE.exe BASEDIR LEVEL OUT.exe < relative-paths\n", argv[0]);
        return 64;
    }
    try {
        return Run(argv[1], argv[2], std::stoi(argv[3]), argv[4]);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "extract-bench-packer: %s\n", error.what());
        return 1;
    }
}
