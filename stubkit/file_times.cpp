#include "stubkit/file_times.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <stdexcept>

namespace stubkit {
namespace {

constexpr std::int64_t kTicksPerSecond = 10000000;
// Seconds from 1601-01-01 to 1970-01-01.
constexpr std::int64_t kUnixEpochInFiletimeSeconds = 11644473600;

std::uint64_t FromStatx(const statx_timestamp& stamp)
{
    return FiletimeFromUnix(stamp.tv_sec, stamp.tv_nsec);
}

}  // namespace

std::uint64_t FiletimeFromUnix(std::int64_t seconds, std::uint32_t nanoseconds)
{
    const std::int64_t since_1601 = seconds + kUnixEpochInFiletimeSeconds;
    if (since_1601 < 0)
        return 0;
    return static_cast<std::uint64_t>(since_1601) * kTicksPerSecond + nanoseconds / 100;
}

timespec UnixFromFiletime(std::uint64_t filetime)
{
    timespec time{};
    time.tv_sec = static_cast<time_t>(static_cast<std::int64_t>(filetime / kTicksPerSecond) -
                                      kUnixEpochInFiletimeSeconds);
    time.tv_nsec = static_cast<long>(filetime % kTicksPerSecond) * 100;
    return time;
}

FileTimes ReadFileTimes(const std::filesystem::path& path)
{
    struct statx status {};
    if (statx(AT_FDCWD, path.c_str(), 0, STATX_BTIME | STATX_ATIME | STATX_MTIME, &status) != 0)
        throw std::runtime_error("cannot read the times of '" + path.string() + "': " +
                                 std::strerror(errno));
    FileTimes times;
    times.write = FromStatx(status.stx_mtime);
    times.access = FromStatx(status.stx_atime);
    times.creation = (status.stx_mask & STATX_BTIME) ? FromStatx(status.stx_btime) : times.write;
    return times;
}

void WriteFileTimes(const std::filesystem::path& path, const FileTimes& times)
{
    const timespec access_and_write[2] = {UnixFromFiletime(times.access), UnixFromFiletime(times.write)};
    if (utimensat(AT_FDCWD, path.c_str(), access_and_write, 0) != 0)
        throw std::runtime_error("cannot set the times of '" + path.string() + "': " +
                                 std::strerror(errno));
}

std::string FormatFiletime(std::uint64_t filetime)
{
    const timespec time = UnixFromFiletime(filetime);
    std::tm parts{};
    const time_t seconds = time.tv_sec;
    if (!gmtime_r(&seconds, &parts))
        return "(invalid time)";
    char text[64];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d.%07ld UTC", parts.tm_year + 1900,
                  parts.tm_mon + 1, parts.tm_mday, parts.tm_hour, parts.tm_min, parts.tm_sec,
                  time.tv_nsec / 100);
    return text;
}

}  // namespace stubkit
