// A file that must not outlive an interrupted run: signals on Linux, console
// control events on Windows (stubkit/platform).
#ifndef STUBKIT_INTERRUPT_CLEANUP_H
#define STUBKIT_INTERRUPT_CLEANUP_H

#include <filesystem>

namespace stubkit {

// While one lives, SIGINT, SIGTERM and SIGHUP remove `path` and end the
// process with exit status 128 + the signal's number. One at a time.
class RemovedOnInterrupt {
public:
    explicit RemovedOnInterrupt(const std::filesystem::path& path);
    ~RemovedOnInterrupt();
    RemovedOnInterrupt(const RemovedOnInterrupt&) = delete;
    RemovedOnInterrupt& operator=(const RemovedOnInterrupt&) = delete;
};

}  // namespace stubkit

#endif
