// A one-line progress bar on stderr (bytes done, rate, time left), drawn only
// when asked to and at most ten times a second.
#ifndef STUBKIT_PROGRESS_H
#define STUBKIT_PROGRESS_H

#include <chrono>
#include <cstdint>
#include <string>

#include "stubkit/platform/platform.h"

namespace stubkit {

// True when stderr is a terminal, where a bar (and chatter) belongs.
using platform::StderrIsTerminal;

class ProgressBar {
public:
    ProgressBar(std::string label, std::uint64_t total, bool visible);
    ~ProgressBar();
    ProgressBar(const ProgressBar&) = delete;
    ProgressBar& operator=(const ProgressBar&) = delete;

    void Update(std::uint64_t done);
    // Clears the line so that later messages start clean.
    void Finish();

private:
    void Draw(std::uint64_t done);

    std::string label_;
    std::uint64_t total_;
    bool visible_;
    bool drawn_ = false;
    std::chrono::steady_clock::time_point start_;
    std::chrono::steady_clock::time_point last_draw_;
};

// "12.3 MB", "512 B": sizes for people.
std::string HumanBytes(std::uint64_t bytes);

}  // namespace stubkit

#endif
