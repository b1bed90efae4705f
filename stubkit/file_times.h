// Windows FILETIMEs (100-nanosecond ticks since 1601-01-01 UTC) for host
// files, in both directions.
#ifndef STUBKIT_FILE_TIMES_H
#define STUBKIT_FILE_TIMES_H

#include <cstdint>
#include <ctime>
#include <filesystem>
#include <string>

namespace stubkit {

struct FileTimes {
    std::uint64_t creation = 0;
    std::uint64_t access = 0;
    std::uint64_t write = 0;
};

std::uint64_t FiletimeFromUnix(std::int64_t seconds, std::uint32_t nanoseconds);
timespec UnixFromFiletime(std::uint64_t filetime);

// Creation is the file system's birth time where it keeps one, else the
// modification time. Throws naming the file when it cannot be read.
FileTimes ReadFileTimes(const std::filesystem::path& path);

// Sets access and modification times; Linux offers no way to set a birth time.
void WriteFileTimes(const std::filesystem::path& path, const FileTimes& times);

// "2024-03-01 12:34:56.1234567 UTC"; FILETIMEs keep 100 ns.
std::string FormatFiletime(std::uint64_t filetime);

}  // namespace stubkit

#endif
