#include "stubkit/extract_folder.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

#include "stubkit/container/printable_text.h"

namespace stubkit {
namespace fs = std::filesystem;

namespace {

constexpr int kFolderFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;

std::string ErrnoText()
{
    return std::strerror(errno);
}

}  // namespace

ExtractFolder::ExtractFolder(const fs::path& folder) : folder_(folder)
{
    if (folder.empty())
        throw std::runtime_error("the folder to extract into is empty; name one, e.g. '.'");
    std::error_code error;
    fs::create_directories(folder, error);
    if (error)
        throw std::runtime_error("cannot create the folder " + Quoted(folder) + ": " + error.message());
    folder_descriptor_ = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder_descriptor_ < 0)
        throw std::runtime_error("cannot open the folder " + Quoted(folder) + ": " + ErrnoText());
}

ExtractFolder::~ExtractFolder()
{
    Discard();
    ::close(folder_descriptor_);
}

fs::path ExtractFolder::PathOf(const RelativePath& file) const
{
    fs::path path = folder_;
    for (const std::string& part : file)
        path /= fs::u8path(part);
    return path;
}

void ExtractFolder::Fail(const char* what, const RelativePath& file) const
{
    throw std::runtime_error(std::string(what) + " " + Quoted(PathOf(file)) + ": " + ErrnoText());
}

void ExtractFolder::KeepInput(const fs::path& input)
{
    input_ = IdentityOf(input);
}

std::string ExtractFolder::Obstacle(const RelativePath& file, bool overwrite) const
{
    RelativePath walked;
    for (std::size_t i = 0; i < file.size(); ++i) {
        walked.push_back(file[i]);
        struct stat status {};
        const fs::path relative = PathOf(walked).lexically_relative(folder_);
        if (::fstatat(folder_descriptor_, relative.c_str(), &status, AT_SYMLINK_NOFOLLOW) != 0)
            return std::string();   // missing from here on: created fresh
        const bool last = i + 1 == file.size();
        if (S_ISLNK(status.st_mode))
            return Quoted(PathOf(walked)) + " is a symbolic link; extract never writes through one";
        if (!last && !S_ISDIR(status.st_mode))
            return Quoted(PathOf(walked)) + " exists and is not a folder";
        if (last && S_ISDIR(status.st_mode))
            return Quoted(PathOf(walked)) + " is a folder";
        if (last && !S_ISREG(status.st_mode))
            return Quoted(PathOf(walked)) + " exists and is not a regular file";
        const FileIdentity identity{static_cast<std::uint64_t>(status.st_dev), static_cast<std::uint64_t>(status.st_ino)};
        if (last && input_ == identity)
            return Quoted(PathOf(walked)) + " is the installer being extracted (or a hard link to it)";
        if (last && !overwrite)
            return Quoted(PathOf(walked)) + " already exists; --overwrite replaces existing files";
    }
    return std::string();
}

// The descriptor of the file's folder, each step opened without following a
// link; missing folders are made when `create`.
int ExtractFolder::OpenFolders(const RelativePath& file, bool create) const
{
    int current = ::dup(folder_descriptor_);
    if (current < 0)
        Fail("cannot open", {});
    for (std::size_t i = 0; i + 1 < file.size(); ++i) {
        if (create && ::mkdirat(current, file[i].c_str(), 0777) != 0 && errno != EEXIST) {
            ::close(current);
            Fail("cannot create the folder", RelativePath(file.begin(), file.begin() + static_cast<long>(i) + 1));
        }
        const int next = ::openat(current, file[i].c_str(), kFolderFlags);
        ::close(current);
        if (next < 0)
            Fail("cannot open the folder", RelativePath(file.begin(), file.begin() + static_cast<long>(i) + 1));
        current = next;
    }
    return current;
}

void ExtractFolder::Create(const RelativePath& file, bool overwrite)
{
    Discard();
    const int parent = OpenFolders(file, true);
    // A replaced file is unlinked first and made anew, so that a hard link
    // to a file elsewhere is not written through either.
    if (overwrite && ::unlinkat(parent, file.back().c_str(), 0) != 0 && errno != ENOENT) {
        ::close(parent);
        Fail("cannot replace", file);
    }
    file_descriptor_ = ::openat(parent, file.back().c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (file_descriptor_ < 0) {
        ::close(parent);
        Fail("cannot create", file);
    }
    struct stat status {};
    if (::fstat(file_descriptor_, &status) != 0 || !S_ISREG(status.st_mode)) {
        ::close(file_descriptor_);
        file_descriptor_ = -1;
        ::close(parent);
        errno = EINVAL;
        Fail("cannot create", file);
    }
    open_parent_ = parent;
    open_file_ = file;
}

void ExtractFolder::Write(const std::uint8_t* bytes, std::size_t size)
{
    while (size > 0) {
        const ssize_t done = ::write(file_descriptor_, bytes, size);
        if (done < 0 && errno == EINTR)
            continue;
        if (done <= 0) {
            if (done == 0)
                errno = ENOSPC;
            Fail("cannot write", open_file_);
        }
        bytes += done;
        size -= static_cast<std::size_t>(done);
    }
}

void ExtractFolder::Finish(const FileTimes& times)
{
    const timespec access_and_write[2] = {UnixFromFiletime(times.access), UnixFromFiletime(times.write)};
    if (::futimens(file_descriptor_, access_and_write) != 0)
        Fail("cannot set the times of", open_file_);
    const int descriptor = file_descriptor_;
    file_descriptor_ = -1;
    ::close(open_parent_);
    open_parent_ = -1;
    if (::close(descriptor) != 0)
        Fail("cannot write", open_file_);
}

std::string ExtractFolder::Discard()
{
    if (file_descriptor_ < 0)
        return std::string();
    ::close(file_descriptor_);
    file_descriptor_ = -1;
    ::unlinkat(open_parent_, open_file_.back().c_str(), 0);
    ::close(open_parent_);
    open_parent_ = -1;
    return PathOf(open_file_).string();
}

}  // namespace stubkit
