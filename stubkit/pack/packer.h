// Writes a product installer: the patched stub, the payload header, the file
// table and one solid compressed stream of every file in table order.
#ifndef STUBKIT_PACK_PACKER_H
#define STUBKIT_PACK_PACKER_H

#include <cstdint>
#include <filesystem>
#include <functional>

#include "stubkit/pack/stub.h"

namespace stubkit {

struct PackResult {
    std::uint64_t installer_size = 0;
    std::uint64_t stream_size = 0;
};

// Called now and then with the bytes of file contents compressed so far.
using PackProgress = std::function<void(std::uint64_t done)>;

// The installer appears at `output` only when complete: it is written beside
// it under a temporary name and renamed at the end, so a failure leaves no
// half-written installer behind. Throws naming the file at fault, e.g. one
// that changed size since it was planned.
PackResult WriteInstaller(const PackPlan& plan, const Stub& stub, const std::filesystem::path& output,
                          int level, int threads, const PackProgress& progress = nullptr);

}  // namespace stubkit

#endif
