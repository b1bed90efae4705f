// Shared helpers of the installer-tool tests: scratch folders, product
// folders and configs, the real stub, and running the tool itself.
#ifndef STUBKIT_TESTS_TEST_SUPPORT_H
#define STUBKIT_TESTS_TEST_SUPPORT_H

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace stubkit::testing {

// A fresh folder under the system's temporary folder, removed afterwards.
class ScratchFolder {
public:
    ScratchFolder();
    ~ScratchFolder();
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;
    const std::filesystem::path& Path() const { return path_; }
    std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

private:
    std::filesystem::path path_;
};

void WriteFile(const std::filesystem::path& path, const std::string& contents);
void WriteFile(const std::filesystem::path& path, const std::vector<std::uint8_t>& contents);
std::vector<std::uint8_t> ReadFile(const std::filesystem::path& path);

// Deterministic pseudo-random bytes.
std::vector<std::uint8_t> NoiseBytes(std::size_t size, std::uint32_t seed);

// The stub built by the Windows tree.
std::filesystem::path RealStubPath();

// A config text with `title` and `source`, followed by `extra` lines.
std::string ConfigText(const std::string& source, const std::string& extra = std::string(),
                       const std::string& title = "Test Product");

struct ToolRun {
    int exit_code = -1;
    std::string output;   // stdout and stderr together
};

// Runs the built stubkit tool with the arguments (each quoted for the shell).
ToolRun RunTool(const std::vector<std::string>& arguments);

}  // namespace stubkit::testing

#endif
