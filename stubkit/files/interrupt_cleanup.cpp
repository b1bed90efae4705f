#include "stubkit/files/interrupt_cleanup.h"

#include "stubkit/platform/platform.h"

namespace stubkit {

RemovedOnInterrupt::RemovedOnInterrupt(const std::filesystem::path& path)
{
    platform::RemoveOnInterruption(&path);
}

RemovedOnInterrupt::~RemovedOnInterrupt()
{
    platform::RemoveOnInterruption(nullptr);
}

}  // namespace stubkit
