// FILETIME arithmetic, the same on every host.
#include "stubkit/platform/platform.h"

namespace stubkit::platform {
namespace {

constexpr std::int64_t kTicksPerSecond = 10000000;
// Seconds from 1601-01-01 to 1970-01-01.
constexpr std::int64_t kUnixEpochInFiletimeSeconds = 11644473600;

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

}  // namespace stubkit::platform
