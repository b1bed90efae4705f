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
#include "stubkit/commands/operations.h"

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
                      const WarningSink& warn = [](const std::string&) {}, const fs::path& stub = {}, int codepage = kDefaultCodepage,
                      const SigningOptions& signing = {})
{
    BuildOptions options;
    options.signing = signing;
    options.config = scratch / "product.toml";
    options.output = scratch / output;
    options.stub = stub;
    options.level = level;
    options.codepage = codepage;
    BuildInstaller(options, warn);
    return scratch / output;
}
inline fs::path SignedBuild(const ScratchFolder& scratch, const std::string& output, const SigningOptions& signing, const fs::path& stub = {})
{
    return Build(scratch, output, 1, [](const std::string&) {}, stub, kDefaultCodepage, signing);
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
// Runs the built stubkit tool, or the command STUBKIT_TOOL_UNDER_TEST names
// (stubkit.exe under Wine).
inline std::pair<int, std::string> RunTool(const std::vector<std::string>& arguments)
{
    const char* other = std::getenv("STUBKIT_TOOL_UNDER_TEST");
    std::string command = other && *other ? std::string(other) : "'" STUBKIT_TOOL "'";
    for (const std::string& argument : arguments)
        command += " '" + argument + "'";
    return RunCommand(command);
}

// A throwaway signing identity made with openssl at test time (no key is
// committed): a self-signed certificate with its key, in PEM and as a
// password-protected PKCS#12 file.
struct ThrowawayKey {
    fs::path certificate, key, pkcs12, password_file;
    static constexpr const char* kSubject = "/CN=Throwaway Test Vendor/O=stubkit tests";
    explicit ThrowawayKey(const fs::path& folder)
        : certificate(folder / "vendor.pem"), key(folder / "vendor.key"), pkcs12(folder / "vendor.p12"),
          password_file(folder / "password.txt")
    {
        fs::create_directories(folder);
        WriteFile(password_file, std::string("not a real secret\n"));
        const std::string make = "openssl req -x509 -newkey rsa:2048 -nodes -days 30 -subj '" + std::string(kSubject) +
                                 "' -keyout '" + key.string() + "' -out '" + certificate.string() + "' 2>/dev/null && "
                                 "openssl pkcs12 -export -inkey '" + key.string() + "' -in '" + certificate.string() +
                                 "' -out '" + pkcs12.string() + "' -passout 'file:" + password_file.string() + "'";
        if (std::system(make.c_str()) != 0)
            throw std::runtime_error("openssl could not make a throwaway key in " + folder.string());
    }
    static SigningOptions Options(const fs::path& pkcs12, const fs::path& certificate, const fs::path& key, const fs::path& password_file)
    {
        SigningOptions options;
        options.pkcs12 = pkcs12, options.certificate = certificate, options.key = key, options.password_file = password_file;
        return options;
    }
    SigningOptions Pkcs12() const { return Options(pkcs12, {}, {}, password_file); }
    SigningOptions Pem() const { return Options({}, certificate, key, {}); }
};

}  // namespace stubkit::testing

#endif
