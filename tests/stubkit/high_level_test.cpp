// The levels past -9 through the tool: spelled like the others, the same
// stream under each of their names, and memory that does not grow with the
// input.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include "test_support.h"

namespace stubkit {
namespace {
using namespace testing;

// Runs the tool; gives its exit code and its peak resident memory in bytes.
std::pair<int, long> RunMeasured(std::vector<std::string> arguments)
{
    arguments.insert(arguments.begin(), STUBKIT_TOOL);
    std::vector<char*> argv;
    for (std::string& argument : arguments)
        argv.push_back(argument.data());
    argv.push_back(nullptr);
    const pid_t child = fork();
    if (child == 0) {
        execv(STUBKIT_TOOL, argv.data());
        _exit(127);
    }
    int status = 0;
    rusage usage{};
    if (child < 0 || wait4(child, &status, 0, &usage) != child)
        return {-1, 0};
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, usage.ru_maxrss * 1024L};
}

TEST(HighLevels, EveryNameGivesTheSameStreamAndMemoryStaysFixedWhateverTheInput)
{
    ScratchFolder scratch;
    // Long stretches that cost the search little, between pieces of noise
    // that leave a symbol for every byte.
    Bytes large;
    for (int piece = 0; piece < 4; ++piece) {
        Bytes noise = NoiseBytes(1 << 19, piece);
        large.insert(large.end(), noise.begin(), noise.end());
        large.resize(large.size() + (15 << 19), static_cast<std::uint8_t>(piece));
    }
    const Bytes small(large.begin(), large.begin() + (1 << 19));
    WriteFile(scratch / "small", small);
    WriteFile(scratch / "large", large);
    const std::string folder = scratch.path.string();

    long small_peak = 0;
    for (const char* name : {"-12", "--ultra", "-10"}) {
        const auto [code, peak] = RunMeasured({"encode", name, "-T2", folder + "/small", folder + "/small" + name});
        ASSERT_EQ(code, 0) << name;
        small_peak = std::max(small_peak, peak);
    }
    EXPECT_EQ(ReadFile(scratch / "small--ultra"), ReadFile(scratch / "small-12"));
    EXPECT_NE(ReadFile(scratch / "small-10"), ReadFile(scratch / "small-12"));
    const auto [code, large_peak] = RunMeasured({"encode", "-12", "-T3", folder + "/large", folder + "/large.12"});
    ASSERT_EQ(code, 0);
    // The buffers are sized by the window and the segment, not the input.
    EXPECT_LT(large_peak, small_peak + (16L << 20)) << "small input: " << small_peak << " bytes";
    EXPECT_LT(large_peak, 1L << 30);
    ASSERT_EQ(RunTool({"decode", "--total", std::to_string(large.size()), folder + "/large.12", folder + "/large.out"}).first, 0);
    EXPECT_TRUE(ReadFile(scratch / "large.out") == large);
}

}  // namespace
}  // namespace stubkit
