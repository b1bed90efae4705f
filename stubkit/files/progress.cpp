#include "stubkit/files/progress.h"

#include <cstdio>

namespace stubkit {
namespace {

constexpr int kBarWidth = 28;
constexpr auto kRedrawInterval = std::chrono::milliseconds(100);
// Short jobs finish without a bar, and the rate has settled before the first.
constexpr auto kFirstDrawDelay = std::chrono::milliseconds(300);
// A log gets few lines: short jobs none, long ones at most ten and never more
// than one in this time.
constexpr auto kLineInterval = std::chrono::seconds(10);

std::string Duration(double seconds)
{
    const long whole = static_cast<long>(seconds + 0.5);
    char text[32];
    std::snprintf(text, sizeof text, "%ld:%02ld", whole / 60, whole % 60);
    return text;
}

double Fraction(std::uint64_t done, std::uint64_t total)
{
    return total == 0 ? 1.0 : static_cast<double>(done) / static_cast<double>(total);
}

}  // namespace

ProgressStyle ProgressStyleFor(bool quiet)
{
    if (quiet)
        return ProgressStyle::None;
    return StderrIsTerminal() ? ProgressStyle::Bar : ProgressStyle::Lines;
}

std::string HumanBytes(std::uint64_t bytes)
{
    static const char* const units[] = {"B", "KB", "MB", "GB"};
    double value = static_cast<double>(bytes);
    int unit = 0;
    while (value >= 1000 && unit < 3) {
        value /= 1000;
        ++unit;
    }
    char text[32];
    std::snprintf(text, sizeof text, unit == 0 ? "%.0f %s" : "%.1f %s", value, units[unit]);
    return text;
}

ProgressBar::ProgressBar(std::string label, std::uint64_t total, ProgressStyle style, std::FILE* out, Clock clock)
    : label_(std::move(label)), total_(total), style_(style), out_(out), clock_(std::move(clock)),
      start_(clock_()), last_draw_(start_)
{
}

ProgressBar::~ProgressBar()
{
    Finish();
}

void ProgressBar::Update(std::uint64_t done)
{
    if (style_ == ProgressStyle::Bar)
        UpdateBar(done, clock_());
    else if (style_ == ProgressStyle::Lines)
        UpdateLines(done, clock_());
}

void ProgressBar::UpdateBar(std::uint64_t done, std::chrono::steady_clock::time_point now)
{
    if (!drawn_ && now - start_ < kFirstDrawDelay)
        return;
    if (drawn_ && now - last_draw_ < kRedrawInterval && done < total_)
        return;
    last_draw_ = now;
    DrawBar(done, now);
}

void ProgressBar::UpdateLines(std::uint64_t done, std::chrono::steady_clock::time_point now)
{
    const int tenth = static_cast<int>(Fraction(done, total_) * 10);
    if (tenth < next_tenth_ || now - last_draw_ < kLineInterval)
        return;
    last_draw_ = now;
    next_tenth_ = tenth + 1;
    const double elapsed = std::chrono::duration<double>(now - start_).count();
    std::fprintf(out_, "stubkit: %s: %d%% (%s of %s) after %s\n", label_.c_str(),
                 static_cast<int>(Fraction(done, total_) * 100), HumanBytes(done).c_str(),
                 HumanBytes(total_).c_str(), Duration(elapsed).c_str());
    std::fflush(out_);
}

double ProgressBar::Rate(std::uint64_t done, std::chrono::steady_clock::time_point now) const
{
    const double elapsed = std::chrono::duration<double>(now - start_).count();
    return elapsed > 0 ? static_cast<double>(done) / elapsed : 0;
}

void ProgressBar::DrawBar(std::uint64_t done, std::chrono::steady_clock::time_point now)
{
    const double fraction = Fraction(done, total_);
    const int filled = static_cast<int>(fraction * kBarWidth);
    const double rate = Rate(done, now);
    const std::string eta = rate > 0 ? Duration(static_cast<double>(total_ - done) / rate) : "-:--";
    std::fprintf(out_, "\r%s [%s%s] %3d%%  %s of %s  %s/s  ETA %s\033[K", label_.c_str(),
                 std::string(static_cast<std::size_t>(filled), '#').c_str(),
                 std::string(static_cast<std::size_t>(kBarWidth - filled), '.').c_str(),
                 static_cast<int>(fraction * 100), HumanBytes(done).c_str(), HumanBytes(total_).c_str(),
                 HumanBytes(static_cast<std::uint64_t>(rate)).c_str(), eta.c_str());
    std::fflush(out_);
    drawn_ = true;
}

void ProgressBar::Finish()
{
    if (drawn_) {
        std::fputs("\r\033[K", out_);
        std::fflush(out_);
        drawn_ = false;
    }
    style_ = ProgressStyle::None;
}

}  // namespace stubkit
