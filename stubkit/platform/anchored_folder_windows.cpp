// The anchored folder on Windows. Windows has no *at() calls: each folder on
// the way is opened without following a reparse point and held open without
// delete sharing while the file is made, so none of them can be renamed or
// swapped for a link or junction in between; the folder itself is held the
// same way for as long as the object lives.
#include "stubkit/platform/anchored_folder.h"

#include <windows.h>

#include <cerrno>

#include "stubkit/platform/windows_text.h"

namespace stubkit::platform {
namespace fs = std::filesystem;

namespace {

constexpr DWORD kShareButDelete = FILE_SHARE_READ | FILE_SHARE_WRITE;

HANDLE AsHandle(std::intptr_t handle)
{
    return reinterpret_cast<HANDLE>(handle);
}

std::intptr_t FromHandle(HANDLE handle)
{
    return handle == INVALID_HANDLE_VALUE ? -1 : reinterpret_cast<std::intptr_t>(handle);
}

fs::path Below(const fs::path& folder, const RelativePath& file, std::size_t components)
{
    fs::path path = folder;
    for (std::size_t i = 0; i < components; ++i)
        path /= fs::u8path(file[i]);
    return path;
}

FolderFailure Failure(const char* what, std::size_t components, DWORD error = GetLastError())
{
    return FolderFailure{what, components, Win32ErrorText(error)};
}

// Opens one folder on the way, the reparse point itself if it is one, so
// that a link or junction is seen rather than followed.
HANDLE OpenFolderStep(const fs::path& path)
{
    return CreateFileW(LongPath(path).c_str(), FILE_READ_ATTRIBUTES, kShareButDelete, nullptr, OPEN_EXISTING,
                       FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
}

// What is wrong with an opened step, in the words Linux gives for a link
// (ELOOP) or a file (ENOTDIR) where a folder should be; empty when it is a
// real folder.
std::string NotAFolder(HANDLE handle)
{
    BY_HANDLE_FILE_INFORMATION information{};
    if (!GetFileInformationByHandle(handle, &information))
        return Win32ErrorText(GetLastError());
    if (information.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)
        return ErrnoText(ELOOP);
    if (!(information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
        return ErrnoText(ENOTDIR);
    return std::string();
}

// Removes a file being replaced; a read-only one too, as on Linux.
bool RemoveForReplacing(const fs::path& path)
{
    const std::wstring name = LongPath(path).native();
    if (DeleteFileW(name.c_str()) || GetLastError() == ERROR_FILE_NOT_FOUND)
        return true;
    const DWORD attributes = GetFileAttributesW(name.c_str());
    if (GetLastError() != ERROR_ACCESS_DENIED || attributes == INVALID_FILE_ATTRIBUTES ||
        !(attributes & FILE_ATTRIBUTE_READONLY))
        return false;
    SetFileAttributesW(name.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY);
    if (DeleteFileW(name.c_str()))
        return true;
    const DWORD error = GetLastError();
    SetFileAttributesW(name.c_str(), attributes);
    SetLastError(error);
    return false;
}

// The folders on the way to a file, held open while it is made.
class HeldFolders {
public:
    HeldFolders() = default;
    ~HeldFolders()
    {
        for (HANDLE handle : handles_)
            CloseHandle(handle);
    }
    HeldFolders(const HeldFolders&) = delete;
    HeldFolders& operator=(const HeldFolders&) = delete;

    // Makes the folders before the file's name that are missing, holding
    // each; a failure names the step.
    std::optional<FolderFailure> Walk(const fs::path& folder, const RelativePath& file)
    {
        for (std::size_t i = 0; i + 1 < file.size(); ++i) {
            const fs::path step = Below(folder, file, i + 1);
            if (!CreateDirectoryW(LongPath(step).c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS)
                return Failure("cannot create the folder", i + 1);
            const HANDLE handle = OpenFolderStep(step);
            if (handle == INVALID_HANDLE_VALUE)
                return Failure("cannot open the folder", i + 1);
            handles_.push_back(handle);
            const std::string problem = NotAFolder(handle);
            if (!problem.empty())
                return FolderFailure{"cannot open the folder", i + 1, problem};
        }
        return std::nullopt;
    }

private:
    std::vector<HANDLE> handles_;
};

}  // namespace

AnchoredFolder::AnchoredFolder(const fs::path& folder) : folder_(folder)
{
    // Followed if it is a link: the folder itself is the user's choice.
    const HANDLE handle = CreateFileW(LongPath(folder).c_str(), FILE_READ_ATTRIBUTES, kShareButDelete, nullptr,
                                      OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    folder_handle_ = FromHandle(handle);
    if (handle == INVALID_HANDLE_VALUE)
        reason_ = Win32ErrorText(GetLastError());
}

AnchoredFolder::~AnchoredFolder()
{
    Discard();
    if (IsOpen())
        CloseHandle(AsHandle(folder_handle_));
}

bool AnchoredFolder::IsOpen() const
{
    return folder_handle_ != -1;
}

FileKind AnchoredFolder::KindAt(const RelativePath& path) const
{
    const FileFacts facts = ExamineFile(Below(folder_, path, path.size()), false);
    return facts.kind == FileKind::device || facts.kind == FileKind::fifo ? FileKind::other : facts.kind;
}

std::optional<FolderFailure> AnchoredFolder::Create(const RelativePath& file, bool replace)
{
    Discard();
    HeldFolders held;
    if (std::optional<FolderFailure> failure = held.Walk(folder_, file))
        return failure;
    const fs::path path = Below(folder_, file, file.size());
    if (replace && !RemoveForReplacing(path))
        return Failure("cannot replace", file.size());
    // CREATE_NEW with FILE_FLAG_OPEN_REPARSE_POINT: never an existing file,
    // never through a link that appeared at its name.
    const HANDLE handle = CreateFileW(LongPath(path).c_str(), GENERIC_WRITE | FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ,
                                      nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return Failure("cannot create", file.size());
    file_handle_ = FromHandle(handle);
    open_file_ = file;
    return std::nullopt;
}

std::optional<FolderFailure> AnchoredFolder::Write(const std::uint8_t* bytes, std::size_t size)
{
    while (size > 0) {
        DWORD done = 0;
        const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(size, 1 << 30));
        if (!WriteFile(AsHandle(file_handle_), bytes, chunk, &done, nullptr) || done == 0)
            return Failure("cannot write", open_file_.size());
        bytes += done;
        size -= done;
    }
    return std::nullopt;
}

std::optional<FolderFailure> AnchoredFolder::Finish(const FileTimes& times)
{
    const FILETIME creation{static_cast<DWORD>(times.creation), static_cast<DWORD>(times.creation >> 32)};
    const FILETIME access{static_cast<DWORD>(times.access), static_cast<DWORD>(times.access >> 32)};
    const FILETIME write{static_cast<DWORD>(times.write), static_cast<DWORD>(times.write >> 32)};
    if (!SetFileTime(AsHandle(file_handle_), &creation, &access, &write))
        return Failure("cannot set the times of", open_file_.size());
    const HANDLE handle = AsHandle(file_handle_);
    file_handle_ = -1;
    if (!CloseHandle(handle))
        return Failure("cannot write", open_file_.size());
    return std::nullopt;
}

bool AnchoredFolder::Discard()
{
    if (file_handle_ == -1)
        return false;
    CloseHandle(AsHandle(file_handle_));
    file_handle_ = -1;
    DeleteFileW(LongPath(Below(folder_, open_file_, open_file_.size())).c_str());
    return true;
}

}  // namespace stubkit::platform
