#include "stubkit/interrupt_cleanup.h"

#include <signal.h>
#include <unistd.h>

#include <climits>
#include <cstring>
#include <stdexcept>

namespace stubkit {
namespace {

constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP};
// The handler may use only what is safe inside one: a fixed buffer and
// unlink and _exit.
char removed_path[PATH_MAX];
struct sigaction previous[sizeof kSignals / sizeof kSignals[0]];

extern "C" void RemoveAndExit(int signal_number)
{
    ::unlink(removed_path);
    ::_exit(128 + signal_number);
}

}  // namespace

RemovedOnInterrupt::RemovedOnInterrupt(const std::filesystem::path& path)
{
    const std::string text = path.string();
    if (text.size() >= sizeof removed_path)
        throw std::length_error("path too long: " + text);
    std::memcpy(removed_path, text.c_str(), text.size() + 1);
    struct sigaction action {};
    action.sa_handler = RemoveAndExit;
    sigfillset(&action.sa_mask);
    for (std::size_t i = 0; i < sizeof kSignals / sizeof kSignals[0]; ++i)
        ::sigaction(kSignals[i], &action, &previous[i]);
}

RemovedOnInterrupt::~RemovedOnInterrupt()
{
    for (std::size_t i = 0; i < sizeof kSignals / sizeof kSignals[0]; ++i)
        ::sigaction(kSignals[i], &previous[i], nullptr);
}

}  // namespace stubkit
