// Progress of a long job on stderr (bytes done, rate, time left): a bar
// redrawn in place on a terminal, plain lines in a log, nothing when quiet.
#ifndef STUBKIT_PROGRESS_H
#define STUBKIT_PROGRESS_H

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>

#include "stubkit/platform/platform.h"

namespace stubkit {

// True when stderr is a terminal, where a bar (and chatter) belongs.
using platform::StderrIsTerminal;

enum class ProgressStyle {
    None,
    Bar,     // one line redrawn at most ten times a second
    Lines,   // a line at every tenth of the work or every 10 s, whichever comes later
};

// The bar on a terminal, lines elsewhere (a CI log), nothing when quiet.
ProgressStyle ProgressStyleFor(bool quiet);

class ProgressBar {
public:
    using Clock = std::function<std::chrono::steady_clock::time_point()>;

    ProgressBar(std::string label, std::uint64_t total, ProgressStyle style, std::FILE* out = stderr,
                Clock clock = std::chrono::steady_clock::now);
    ~ProgressBar();
    ProgressBar(const ProgressBar&) = delete;
    ProgressBar& operator=(const ProgressBar&) = delete;

    void Update(std::uint64_t done);
    // Clears the bar so that later messages start clean.
    void Finish();

private:
    void UpdateBar(std::uint64_t done, std::chrono::steady_clock::time_point now);
    void UpdateLines(std::uint64_t done, std::chrono::steady_clock::time_point now);
    void DrawBar(std::uint64_t done, std::chrono::steady_clock::time_point now);
    double Rate(std::uint64_t done, std::chrono::steady_clock::time_point now) const;

    std::string label_;
    std::uint64_t total_;
    ProgressStyle style_;
    std::FILE* out_;
    Clock clock_;
    bool drawn_ = false;
    int next_tenth_ = 1;   // Lines: the tenth of the work the next line waits for
    std::chrono::steady_clock::time_point start_;
    std::chrono::steady_clock::time_point last_draw_;
};

// "12.3 MB", "512 B": sizes for people.
std::string HumanBytes(std::uint64_t bytes);

}  // namespace stubkit

#endif
