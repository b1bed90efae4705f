// Windows FILETIMEs (100-nanosecond ticks since 1601-01-01 UTC) for host
// files, in both directions; reading and setting a file's times is the
// platform layer's.
#ifndef STUBKIT_FILE_TIMES_H
#define STUBKIT_FILE_TIMES_H

#include <cstdint>
#include <ctime>
#include <string>

#include "stubkit/platform/platform.h"

namespace stubkit {

using platform::FileTimes;
using platform::FiletimeFromUnix;
using platform::ReadFileTimes;
using platform::UnixFromFiletime;
using platform::WriteFileTimes;

// "2024-03-01 12:34:56.1234567 UTC"; FILETIMEs keep 100 ns. Years after 9999
// keep all their digits.
std::string FormatFiletime(std::uint64_t filetime);

}  // namespace stubkit

#endif
