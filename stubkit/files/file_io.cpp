#include "stubkit/files/file_io.h"

#include <cerrno>
#include <stdexcept>

#include "stubkit/platform/platform.h"

namespace stubkit {
namespace {

[[noreturn]] void Fail(const char* what, const std::string& path)
{
    throw std::runtime_error(std::string(what) + " '" + path + "': " + platform::ErrnoText(errno));
}

}  // namespace

File::File(const std::string& path, const char* mode)
    : path_(path), file_(platform::OpenFile(std::filesystem::u8path(path), mode))
{
    if (file_ == nullptr)
        Fail(mode[0] == 'r' ? "cannot open" : "cannot create", path);
}

File::~File()
{
    if (file_ != nullptr)
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
    if (std::fclose(file) != 0)
        Fail("cannot write", path_);
}

}  // namespace stubkit
