#include "stubkit/files/file_io.h"

#include <cerrno>
#include <stdexcept>
#include <vector>

#include "stubkit/platform/platform.h"

namespace stubkit {
namespace {

[[noreturn]] void Fail(const char* what, const std::string& path)
{
    throw std::runtime_error(std::string(what) + " '" + path + "': " + platform::ErrnoText(errno));
}

std::FILE* Open(const std::string& path, const char* mode)
{
    if (path == kStandardStreamName)
        return platform::BinaryStandardStream(mode[0] != 'r');
    return platform::OpenFile(std::filesystem::u8path(path), mode);
}

}  // namespace

File::File(const std::string& path, const char* mode)
    : path_(path == kStandardStreamName ? std::string(mode[0] == 'r' ? "(standard input)" : "(standard output)") : path),
      file_(Open(path, mode)), standard_(path == kStandardStreamName)
{
    if (file_ == nullptr)
        Fail(mode[0] == 'r' ? "cannot open" : "cannot create", path);
}

File::~File()
{
    if (file_ != nullptr && !standard_)
        std::fclose(file_);
}

size_t File::Read(uint8_t* bytes, size_t size)
{
    size_t done = std::fread(bytes, 1, size, file_);
    if (done < size && std::ferror(file_))
        Fail("cannot read", path_);
    return done;
}

void File::Write(const uint8_t* bytes, size_t size)
{
    if (std::fwrite(bytes, 1, size, file_) != size)
        Fail("cannot write", path_);
}

void File::Close()
{
    std::FILE* file = file_;
    file_ = nullptr;
    const bool failed = standard_ ? std::fflush(file) != 0 || std::ferror(file) : std::fclose(file) != 0;
    if (failed)
        Fail("cannot write", path_);
}

InstallerInput::InstallerInput(const std::filesystem::path& named) : path_(named)
{
    if (named != kStandardStreamName)
        return;
    std::FILE* copy = nullptr;
    path_ = platform::CreateFileBeside(std::filesystem::temp_directory_path() / "stdin", ".stubkit-stdin-", &copy);
    temporary_ = true;
    bool written = true;
    try {
        File in(kStandardStreamName, "rb");
        std::vector<uint8_t> buffer(1 << 16);
        while (std::size_t got = in.Read(buffer.data(), buffer.size()))
            written = written && std::fwrite(buffer.data(), 1, got, copy) == got;
    } catch (...) {
        std::fclose(copy);
        std::filesystem::remove(path_);
        throw;
    }
    if (std::fclose(copy) != 0 || !written) {
        const int error = errno;
        std::filesystem::remove(path_);
        errno = error;
        Fail("cannot write", path_.u8string());
    }
}

std::string InstallerInput::Named(const std::string& message) const
{
    if (!temporary_)
        return message;
    std::string named = message;
    const std::string copy = path_.u8string();
    for (std::size_t at = named.find(copy); at != std::string::npos; at = named.find(copy, at + 1))
        named.replace(at, copy.size(), kStandardStreamName);
    return named;
}

InstallerInput::~InstallerInput()
{
    std::error_code ignored;
    if (temporary_)
        std::filesystem::remove(path_, ignored);
}

}  // namespace stubkit
