#include "stubkit/progress.h"

#include <cstdio>

namespace stubkit {
namespace {

constexpr int kBarWidth = 28;
constexpr auto kRedrawInterval = std::chrono::milliseconds(100);
// Short jobs finish without a bar, and the rate has settled before the first.
constexpr auto kFirstDrawDelay = std::chrono::milliseconds(300);

std::string Duration(double seconds)
{
    const long whole = static_cast<long>(seconds + 0.5);
    char text[32];
    std::snprintf(text, sizeof text, "%ld:%02ld", whole / 60, whole % 60);
    return text;
}

}  // namespace

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

ProgressBar::ProgressBar(std::string label, std::uint64_t total, bool visible)
    : label_(std::move(label)), total_(total), visible_(visible),
      start_(std::chrono::steady_clock::now()), last_draw_(start_)
{
}

ProgressBar::~ProgressBar()
{
    Finish();
}

void ProgressBar::Update(std::uint64_t done)
{
    if (!visible_)
        return;
    const auto now = std::chrono::steady_clock::now();
    if (!drawn_ && now - start_ < kFirstDrawDelay)
        return;
    if (drawn_ && now - last_draw_ < kRedrawInterval && done < total_)
        return;
    last_draw_ = now;
    Draw(done);
}

void ProgressBar::Draw(std::uint64_t done)
{
    const double fraction = total_ == 0 ? 1.0 : static_cast<double>(done) / static_cast<double>(total_);
    const int filled = static_cast<int>(fraction * kBarWidth);
    const double elapsed =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
    const double rate = elapsed > 0 ? static_cast<double>(done) / elapsed : 0;
    const std::string eta = rate > 0 ? Duration(static_cast<double>(total_ - done) / rate) : "-:--";
    std::fprintf(stderr, "\r%s [%s%s] %3d%%  %s of %s  %s/s  ETA %s\033[K", label_.c_str(),
                 std::string(static_cast<std::size_t>(filled), '#').c_str(),
                 std::string(static_cast<std::size_t>(kBarWidth - filled), '.').c_str(),
                 static_cast<int>(fraction * 100), HumanBytes(done).c_str(), HumanBytes(total_).c_str(),
                 HumanBytes(static_cast<std::uint64_t>(rate)).c_str(), eta.c_str());
    std::fflush(stderr);
    drawn_ = true;
}

void ProgressBar::Finish()
{
    if (drawn_) {
        std::fputs("\r\033[K", stderr);
        std::fflush(stderr);
        drawn_ = false;
    }
    visible_ = false;
}

}  // namespace stubkit
