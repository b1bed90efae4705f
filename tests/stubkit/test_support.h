// Shared helpers of the installer-tool tests.
#ifndef STUBKIT_TESTS_TEST_SUPPORT_H
#define STUBKIT_TESTS_TEST_SUPPORT_H

#include <stdlib.h>
#include <sys/wait.h>
#include <cstdio>
#include <fstream>
#include <algorithm>
#include <random>
#include <stdexcept>
#include "stubkit/operations.h"

namespace stubkit::testing {
namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

// A fresh folder under the system's temporary folder, removed afterwards.
struct ScratchFolder {
    ScratchFolder() : path((fs::temp_directory_path() / "stubkit-test-XXXXXX").string()) { path = mkdtemp(path.string().data()); }
    ~ScratchFolder() { std::error_code ignored; fs::remove_all(path, ignored); }
    fs::path operator/(const std::string& name) const { return path / name; }
    fs::path path;
};

inline void WriteFile(const fs::path& path, const Bytes& bytes)
{
    fs::create_directories(path.parent_path());
    if (!std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), bytes.size()))
        throw std::runtime_error("cannot write " + path.string());
}
inline void WriteFile(const fs::path& path, const std::string& text) { WriteFile(path, Bytes(text.begin(), text.end())); }
inline Bytes ReadFile(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return in ? Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()) : throw std::runtime_error("cannot read " + path.string());
}
inline Bytes NoiseBytes(std::size_t size, std::uint32_t seed, std::mt19937 random = {})
{
    Bytes bytes(size);
    random.seed(seed);
    std::generate(bytes.begin(), bytes.end(), [&] { return static_cast<std::uint8_t>(random()); });
    return bytes;
}
inline fs::path RealStubPath() { return fs::path(STUBKIT_WIN32_DIR) / "installer/setup-stub.exe"; }
inline std::string ConfigText(const std::string& source, const std::string& extra = "", const std::string& title = "Test Product")
{
    return "title = \"" + title + "\"\nsource = \"" + source + "\"\n" + extra + "\n";
}
// Builds SCRATCH/product.toml into SCRATCH/OUTPUT.
inline fs::path Build(const ScratchFolder& scratch, const std::string& output, int level = 1,
                      const WarningSink& warn = [](const std::string&) {}, const fs::path& stub = {}, int codepage = kDefaultCodepage)
{
    BuildInstaller({scratch / "product.toml", scratch / output, stub, level, codepage}, warn);
    return scratch / output;
}
// Runs a shell command (at most a minute, so a tool that blocks fails); gives its exit code and its stdout and
// stderr together.
inline std::pair<int, std::string> RunCommand(const std::string& command)
{
    std::string output;
    std::FILE* pipe = popen(("timeout 60 " + command + " 2>&1").c_str(), "r");
    char buffer[4096];
    while (std::size_t got = std::fread(buffer, 1, sizeof buffer, pipe))
        output.append(buffer, got);
    const int status = pclose(pipe);
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, output};
}
// Runs the built stubkit tool.
inline std::pair<int, std::string> RunTool(const std::vector<std::string>& arguments)
{
    std::string command = "'" STUBKIT_TOOL "'";
    for (const std::string& argument : arguments)
        command += " '" + argument + "'";
    return RunCommand(command);
}

}  // namespace stubkit::testing

#endif
