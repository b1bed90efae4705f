// The anchored folder on Linux: an open folder descriptor, and *at() calls
// with O_NOFOLLOW for every step below it.
#include "stubkit/platform/anchored_folder.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace stubkit::platform {
namespace fs = std::filesystem;

namespace {

constexpr int kFolderFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;

FolderFailure Failure(const char* what, std::size_t components)
{
    return FolderFailure{what, components, ErrnoText(errno)};
}

int Descriptor(std::intptr_t handle)
{
    return static_cast<int>(handle);
}

// The descriptor of the file's folder, each step opened without following a
// link; missing folders are made when `create`. -1 with `failure` set when a
// step fails.
int OpenFolders(int anchor, const RelativePath& file, bool create, std::optional<FolderFailure>& failure)
{
    int current = ::dup(anchor);
    if (current < 0) {
        failure = Failure("cannot open", 0);
        return -1;
    }
    for (std::size_t i = 0; i + 1 < file.size(); ++i) {
        if (create && ::mkdirat(current, file[i].c_str(), 0777) != 0 && errno != EEXIST) {
            failure = Failure("cannot create the folder", i + 1);
            ::close(current);
            return -1;
        }
        const int next = ::openat(current, file[i].c_str(), kFolderFlags);
        if (next < 0)
            failure = Failure("cannot open the folder", i + 1);
        ::close(current);
        if (next < 0)
            return -1;
        current = next;
    }
    return current;
}

}  // namespace

AnchoredFolder::AnchoredFolder(const fs::path& folder) : folder_(folder)
{
    folder_handle_ = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder_handle_ < 0)
        reason_ = ErrnoText(errno);
}

AnchoredFolder::~AnchoredFolder()
{
    Discard();
    if (IsOpen())
        ::close(Descriptor(folder_handle_));
}

bool AnchoredFolder::IsOpen() const
{
    return folder_handle_ >= 0;
}

FileKind AnchoredFolder::KindAt(const RelativePath& path) const
{
    fs::path relative;
    for (const std::string& part : path)
        relative /= part;
    struct stat status {};
    if (::fstatat(Descriptor(folder_handle_), relative.c_str(), &status, AT_SYMLINK_NOFOLLOW) != 0)
        return FileKind::missing;
    if (S_ISLNK(status.st_mode))
        return FileKind::link;
    return S_ISDIR(status.st_mode) ? FileKind::folder : S_ISREG(status.st_mode) ? FileKind::regular : FileKind::other;
}

std::optional<FolderFailure> AnchoredFolder::Create(const RelativePath& file, bool replace)
{
    Discard();
    std::optional<FolderFailure> failure;
    const int parent = OpenFolders(Descriptor(folder_handle_), file, true, failure);
    if (parent < 0)
        return failure;
    if (replace && ::unlinkat(parent, file.back().c_str(), 0) != 0 && errno != ENOENT) {
        failure = Failure("cannot replace", file.size());
        ::close(parent);
        return failure;
    }
    const int descriptor = ::openat(parent, file.back().c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    struct stat status {};
    if (descriptor < 0 || ::fstat(descriptor, &status) != 0 || !S_ISREG(status.st_mode)) {
        if (descriptor >= 0) {
            ::close(descriptor);
            errno = EINVAL;
        }
        failure = Failure("cannot create", file.size());
        ::close(parent);
        return failure;
    }
    file_handle_ = descriptor;
    parent_handle_ = parent;
    open_file_ = file;
    return std::nullopt;
}

std::optional<FolderFailure> AnchoredFolder::Write(const std::uint8_t* bytes, std::size_t size)
{
    while (size > 0) {
        const ssize_t done = ::write(Descriptor(file_handle_), bytes, size);
        if (done < 0 && errno == EINTR)
            continue;
        if (done <= 0) {
            if (done == 0)
                errno = ENOSPC;
            return Failure("cannot write", open_file_.size());
        }
        bytes += done;
        size -= static_cast<std::size_t>(done);
    }
    return std::nullopt;
}

std::optional<FolderFailure> AnchoredFolder::Finish(const FileTimes& times)
{
    const timespec access_and_write[2] = {UnixFromFiletime(times.access), UnixFromFiletime(times.write)};
    if (::futimens(Descriptor(file_handle_), access_and_write) != 0)
        return Failure("cannot set the times of", open_file_.size());
    const int descriptor = Descriptor(file_handle_);
    file_handle_ = -1;
    ::close(Descriptor(parent_handle_));
    parent_handle_ = -1;
    if (::close(descriptor) != 0)
        return Failure("cannot write", open_file_.size());
    return std::nullopt;
}

bool AnchoredFolder::Discard()
{
    if (file_handle_ < 0)
        return false;
    ::close(Descriptor(file_handle_));
    file_handle_ = -1;
    ::unlinkat(Descriptor(parent_handle_), open_file_.back().c_str(), 0);
    ::close(Descriptor(parent_handle_));
    parent_handle_ = -1;
    return true;
}

}  // namespace stubkit::platform
