// The platform layer on Windows: wide ("W") calls throughout, Windows' own
// code-page conversion, console control events.
#include "stubkit/platform/platform.h"

#include <windows.h>
#include <fcntl.h>
#include <io.h>
#include <shellapi.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "stubkit/platform/windows_text.h"

namespace stubkit::platform {
namespace fs = std::filesystem;

namespace {

// Paths this long or longer get the \\?\ form: the plain one stops at 260
// characters, less the room a call may add (a file name in a folder).
constexpr std::size_t kPlainPathLimit = 240;
constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

[[noreturn]] void FailOn(const char* what, const fs::path& path, DWORD error = GetLastError())
{
    throw std::runtime_error(std::string(what) + " '" + path.u8string() + "': " + Win32ErrorText(error));
}

// A handle closed when it goes out of scope.
class Handle {
public:
    explicit Handle(HANDLE handle) : handle_(handle) {}
    ~Handle() { Close(); }
    void Close()
    {
        if (IsValid())
            CloseHandle(handle_);
        handle_ = nullptr;
    }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    bool IsValid() const { return handle_ != INVALID_HANDLE_VALUE && handle_ != nullptr; }
    HANDLE Get() const { return handle_; }

private:
    HANDLE handle_;
};

// Opens what `path` leads to (through links) for its attributes only, which
// no other program's sharing mode refuses; a folder too.
HANDLE OpenForAttributes(const fs::path& path, DWORD access = FILE_READ_ATTRIBUTES, DWORD flags = 0)
{
    return CreateFileW(LongPath(path).c_str(), access, kShareAll, nullptr, OPEN_EXISTING,
                       FILE_FLAG_BACKUP_SEMANTICS | flags, nullptr);
}

std::uint64_t FromFiletime(const FILETIME& time)
{
    return std::uint64_t{time.dwHighDateTime} << 32 | time.dwLowDateTime;
}

FILETIME ToFiletime(std::uint64_t time)
{
    return FILETIME{static_cast<DWORD>(time), static_cast<DWORD>(time >> 32)};
}

bool IsLinkTag(DWORD tag)
{
    return tag == IO_REPARSE_TAG_SYMLINK || tag == IO_REPARSE_TAG_MOUNT_POINT;
}

// The reparse tag of a reparse point: symbolic links and junctions are
// links; other tags (cloud placeholders, deduplicated files) are ordinary
// files and folders to their readers.
DWORD ReparseTag(const fs::path& path)
{
    WIN32_FIND_DATAW found{};
    const HANDLE search = FindFirstFileW(LongPath(path).c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return 0;
    FindClose(search);
    return found.dwReserved0;
}

// What an open handle is: a disk file or folder, a console or other
// character device, or a pipe.
FileKind KindOfHandle(HANDLE handle)
{
    switch (GetFileType(handle)) {
    case FILE_TYPE_CHAR: return FileKind::device;
    case FILE_TYPE_PIPE: return FileKind::fifo;
    case FILE_TYPE_DISK: break;
    default: return FileKind::other;
    }
    BY_HANDLE_FILE_INFORMATION information{};
    if (!GetFileInformationByHandle(handle, &information))
        return FileKind::other;
    return (information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ? FileKind::folder : FileKind::regular;
}

bool IsMissing(DWORD error)
{
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND || error == ERROR_INVALID_NAME ||
           error == ERROR_BAD_NETPATH;
}

UINT saved_output_codepage = 0;

void RestoreConsole()
{
    SetConsoleOutputCP(saved_output_codepage);
}

wchar_t removed_on_interruption[32768];

// Runs on a thread of its own, while the tool's thread goes on; the file is
// open with delete sharing, so it goes when the process ends.
BOOL WINAPI RemoveAndExit(DWORD event)
{
    // The numbers a shell would report for the matching signals.
    const int signal_number = event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT ? 2
                              : event == CTRL_CLOSE_EVENT                       ? 1
                                                                                : 15;
    DeleteFileW(removed_on_interruption);
    ExitProcess(static_cast<UINT>(128 + signal_number));
}

// A fresh name for a file or folder beside others: nobody else picks the
// same one at the same time (process id, time, a counter).
std::wstring FreshSuffix()
{
    static unsigned counter = 0;
    wchar_t text[40];
    LARGE_INTEGER now{};
    QueryPerformanceCounter(&now);
    swprintf(text, 40, L"%lx%llx%x", GetCurrentProcessId(), static_cast<unsigned long long>(now.QuadPart) & 0xFFFFFF,
             ++counter);
    return text;
}

// Tries names beside `target` until `create` makes one new (false with
// ERROR_FILE_EXISTS or ERROR_ALREADY_EXISTS: taken, try another).
template <typename Create>
fs::path MakeBeside(const fs::path& target, const std::string& prefix, Create create)
{
    const fs::path parent = target.has_parent_path() ? target.parent_path() : fs::path(".");
    for (int attempt = 0; attempt < 100; ++attempt) {
        const fs::path candidate = parent / fs::u8path(prefix + Utf8FromWide(FreshSuffix()));
        if (create(candidate))
            return candidate;
        const DWORD error = GetLastError();
        if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS)
            return fs::path();
    }
    return fs::path();
}

// ---- child processes -----------------------------------------------------------

// One argument as the program's start-up code splits its command line back:
// quotes around it, a quote escaped, and the backslashes before a quote (or
// before the closing one) doubled.
void AppendQuoted(std::wstring& line, const std::wstring& argument)
{
    line += L'"';
    std::size_t backslashes = 0;
    for (wchar_t c : argument) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        line.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
        backslashes = 0;
        line += c;
    }
    line.append(backslashes * 2, L'\\');
    line += L'"';
}

fs::path FindOnPath(const std::string& program)
{
    const DWORD size = GetEnvironmentVariableW(L"PATH", nullptr, 0);
    std::wstring path(size, L'\0');
    path.resize(GetEnvironmentVariableW(L"PATH", path.data(), size));
    const std::wstring name = WideFromUtf8(ProgramFileName(program));
    std::size_t start = 0;
    while (start <= path.size()) {
        const std::size_t end = std::min(path.find(L';', start), path.size());
        std::wstring folder = path.substr(start, end - start);
        start = end + 1;
        if (folder.size() >= 2 && folder.front() == L'"' && folder.back() == L'"')
            folder = folder.substr(1, folder.size() - 2);
        if (folder.empty())
            continue;
        const fs::path candidate = fs::path(folder) / name;
        const DWORD attributes = GetFileAttributesW(LongPath(candidate).c_str());
        if (attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY))
            return candidate;
    }
    return fs::path();
}

std::string ReadAll(HANDLE pipe)
{
    std::string text;
    char buffer[4096];
    DWORD got = 0;
    while (ReadFile(pipe, buffer, sizeof buffer, &got, nullptr) && got > 0)
        text.append(buffer, got);
    return text;
}

}  // namespace

// ---- text helpers shared by the Windows files ----------------------------------

std::wstring WideFromUtf8(const std::string& utf8)
{
    if (utf8.empty())
        return std::wstring();
    const int size = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(size), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), wide.data(), size);
    return wide;
}

std::string Utf8FromWide(const std::wstring& wide)
{
    if (wide.empty())
        return std::string();
    const int size = WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), nullptr, 0, nullptr, nullptr);
    std::string utf8(static_cast<std::size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), utf8.data(), size, nullptr, nullptr);
    return utf8;
}

std::string Win32ErrorText(unsigned long error)
{
    switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND: return ErrnoText(ENOENT);
    case ERROR_ACCESS_DENIED: return ErrnoText(EACCES);
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS: return ErrnoText(EEXIST);
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL: return ErrnoText(ENOSPC);
    case ERROR_DIRECTORY: return ErrnoText(ENOTDIR);
    default: break;
    }
    wchar_t* text = nullptr;
    const DWORD length = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                        nullptr, error, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::wstring words = length > 0 ? std::wstring(text, length) : std::wstring();
    LocalFree(text);
    while (!words.empty() && (words.back() == L'\n' || words.back() == L'\r' || words.back() == L' ' || words.back() == L'.'))
        words.pop_back();
    return words.empty() ? "Windows error " + std::to_string(error) : Utf8FromWide(words);
}

// ---- console and command line ------------------------------------------------

std::vector<std::string> Utf8Arguments(int, char**)
{
    int count = 0;
    wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count);
    std::vector<std::string> arguments;
    for (int i = 0; wide && i < count; ++i)
        arguments.push_back(Utf8FromWide(wide[i]));
    LocalFree(wide);
    return arguments;
}

void PrepareConsole()
{
    // Text reaches pipes and files as UTF-8, as on Linux; a console is told
    // to read it so.
    saved_output_codepage = GetConsoleOutputCP();
    if (saved_output_codepage != 0 && saved_output_codepage != CP_UTF8) {
        SetConsoleOutputCP(CP_UTF8);
        std::atexit(RestoreConsole);
    }
    DWORD mode = 0;
    const HANDLE error_output = GetStdHandle(STD_ERROR_HANDLE);
    if (GetConsoleMode(error_output, &mode))
        SetConsoleMode(error_output, mode | ENABLE_PROCESSED_OUTPUT | ENABLE_VIRTUAL_TERMINAL_PROCESSING);
    _setmode(_fileno(stdout), _O_BINARY);
    _setmode(_fileno(stderr), _O_BINARY);
}

bool StderrIsTerminal()
{
    DWORD mode = 0;
    return GetConsoleMode(GetStdHandle(STD_ERROR_HANDLE), &mode) != 0;
}

void RemoveOnInterruption(const fs::path* path)
{
    if (!path) {
        SetConsoleCtrlHandler(RemoveAndExit, FALSE);
        return;
    }
    const std::wstring text = LongPath(fs::absolute(*path)).native();
    if (text.size() >= sizeof removed_on_interruption / sizeof removed_on_interruption[0])
        throw std::length_error("path too long: " + path->string());
    std::memcpy(removed_on_interruption, text.c_str(), (text.size() + 1) * sizeof(wchar_t));
    SetConsoleCtrlHandler(RemoveAndExit, TRUE);
}

// ---- text ------------------------------------------------------------------------

bool CanConvertCodepage(int codepage)
{
    return IsValidCodePage(static_cast<UINT>(codepage)) != 0;
}

std::optional<std::string> Utf8ToCodepage(int codepage, const std::string& utf8)
{
    if (utf8.empty())
        return std::string();
    const int wide_size = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    if (wide_size == 0)
        return std::nullopt;
    const std::wstring wide = WideFromUtf8(utf8);
    BOOL substituted = FALSE;
    const int size = WideCharToMultiByte(static_cast<UINT>(codepage), WC_NO_BEST_FIT_CHARS, wide.data(), static_cast<int>(wide.size()),
                                         nullptr, 0, nullptr, &substituted);
    if (size == 0 || substituted)
        return std::nullopt;
    std::string bytes(static_cast<std::size_t>(size), '\0');
    WideCharToMultiByte(static_cast<UINT>(codepage), WC_NO_BEST_FIT_CHARS, wide.data(), static_cast<int>(wide.size()), bytes.data(),
                        size, nullptr, nullptr);
    return bytes;
}

std::string CodepageToUtf8(int codepage, const std::string& bytes)
{
    std::wstring wide;
    std::size_t at = 0;
    while (at < bytes.size()) {
        // One character at a time: a lead byte and its trail, or one byte.
        const bool pair = IsDBCSLeadByteEx(static_cast<UINT>(codepage), static_cast<BYTE>(bytes[at])) && at + 1 < bytes.size();
        const int length = pair ? 2 : 1;
        wchar_t converted[2];
        const int got = MultiByteToWideChar(static_cast<UINT>(codepage), MB_ERR_INVALID_CHARS, bytes.data() + at, length, converted, 2);
        if (got > 0) {
            wide.append(converted, static_cast<std::size_t>(got));
            at += static_cast<std::size_t>(length);
        } else {
            wide += L'\xFFFD';
            ++at;
        }
    }
    return Utf8FromWide(wide);
}

std::optional<std::string> CodepageToUtf8Exactly(int codepage, const std::string& bytes)
{
    if (bytes.empty())
        return std::string();
    const int size = MultiByteToWideChar(static_cast<UINT>(codepage), MB_ERR_INVALID_CHARS, bytes.data(),
                                         static_cast<int>(bytes.size()), nullptr, 0);
    if (size == 0)
        return std::nullopt;
    std::wstring wide(static_cast<std::size_t>(size), L'\0');
    MultiByteToWideChar(static_cast<UINT>(codepage), MB_ERR_INVALID_CHARS, bytes.data(), static_cast<int>(bytes.size()),
                        wide.data(), size);
    return Utf8FromWide(wide);
}

std::string FoldCaseUtf8(const std::string& utf8)
{
    // The invariant table, as the file system's: the user's locale (a
    // Turkish dotted I) does not change which names collide.
    const std::wstring wide = WideFromUtf8(utf8);
    std::wstring upper(wide.size(), L'\0');
    if (!wide.empty())
        LCMapStringW(LOCALE_INVARIANT, LCMAP_UPPERCASE, wide.data(), static_cast<int>(wide.size()), upper.data(),
                     static_cast<int>(upper.size()));
    return Utf8FromWide(upper);
}

std::string ErrnoText(int error)
{
    return std::strerror(error);
}

// ---- file kinds and links ---------------------------------------------------------

FileFacts ExamineFile(const fs::path& path, bool follow_links)
{
    FileFacts facts;
    WIN32_FILE_ATTRIBUTE_DATA data{};
    const DWORD attributes = GetFileAttributesExW(LongPath(path).c_str(), GetFileExInfoStandard, &data)
                                 ? data.dwFileAttributes
                                 : INVALID_FILE_ATTRIBUTES;
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        const DWORD error = GetLastError();
        // Device names (NUL, COM1) have no attributes but open.
        const Handle device(OpenForAttributes(path));
        if (device.IsValid())
            facts.kind = KindOfHandle(device.Get());
        else if (!IsMissing(error))
            facts.error = Win32ErrorText(error);
        return facts;
    }
    if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) && IsLinkTag(ReparseTag(path))) {
        if (!follow_links) {
            facts.kind = FileKind::link;
            return facts;
        }
        const Handle target(OpenForAttributes(path));
        LARGE_INTEGER size{};
        facts.kind = target.IsValid() ? KindOfHandle(target.Get()) : FileKind::missing;
        if (facts.kind == FileKind::regular && GetFileSizeEx(target.Get(), &size))
            facts.size = static_cast<std::uint64_t>(size.QuadPart);
        return facts;
    }
    facts.kind = (attributes & FILE_ATTRIBUTE_DIRECTORY) ? FileKind::folder : FileKind::regular;
    facts.size = std::uint64_t{data.nFileSizeHigh} << 32 | data.nFileSizeLow;
    return facts;
}

fs::path RealPath(const fs::path& path, std::error_code& error)
{
    const Handle file(OpenForAttributes(path, 0));
    if (!file.IsValid()) {
        error.assign(static_cast<int>(GetLastError()), std::system_category());
        return fs::path();
    }
    std::wstring final_path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD size = GetFinalPathNameByHandleW(file.Get(), final_path.data(), static_cast<DWORD>(final_path.size()),
                                                     FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
        if (size == 0) {
            error.assign(static_cast<int>(GetLastError()), std::system_category());
            return fs::path();
        }
        if (size < final_path.size()) {
            final_path.resize(size);
            break;
        }
        final_path.resize(size + 1);
    }
    error.clear();
    if (final_path.rfind(L"\\\\?\\UNC\\", 0) == 0)
        return fs::path(L"\\\\" + final_path.substr(8));
    if (final_path.rfind(L"\\\\?\\", 0) == 0)
        return fs::path(final_path.substr(4));
    return fs::path(final_path);
}

bool SameFile(const fs::path& first, const fs::path& second)
{
    const Handle a(OpenForAttributes(first));
    const Handle b(OpenForAttributes(second));
    BY_HANDLE_FILE_INFORMATION one{};
    BY_HANDLE_FILE_INFORMATION two{};
    return a.IsValid() && b.IsValid() && GetFileInformationByHandle(a.Get(), &one) &&
           GetFileInformationByHandle(b.Get(), &two) && one.dwVolumeSerialNumber == two.dwVolumeSerialNumber &&
           one.nFileIndexHigh == two.nFileIndexHigh && one.nFileIndexLow == two.nFileIndexLow;
}

fs::path LongPath(const fs::path& path)
{
    const std::wstring& native = path.native();
    if (native.size() < kPlainPathLimit || native.rfind(L"\\\\?\\", 0) == 0)
        return path;
    // The \\?\ form is taken literally: it must be absolute, normal and
    // written with backslashes.
    std::wstring absolute = fs::absolute(path).lexically_normal().make_preferred().native();
    if (absolute.rfind(L"\\\\", 0) == 0)
        return fs::path(L"\\\\?\\UNC\\" + absolute.substr(2));
    return fs::path(L"\\\\?\\" + absolute);
}

void CreateFolders(const fs::path& folder, std::error_code& error)
{
    error.clear();
    const fs::path absolute = fs::absolute(folder).lexically_normal();
    fs::path step;
    for (const fs::path& part : absolute) {
        step /= part;
        if (step == absolute.root_path() || step == absolute.root_name())
            continue;
        // A share's name, or a folder there already: nothing to make.
        if (!CreateDirectoryW(LongPath(step).c_str(), nullptr) && ExamineFile(step, true).kind != FileKind::folder) {
            error.assign(static_cast<int>(GetLastError()), std::system_category());
            return;
        }
    }
    if (ExamineFile(folder, true).kind != FileKind::folder)
        error = std::make_error_code(std::errc::not_a_directory);
}

std::vector<fs::path> ListFolder(const fs::path& folder, std::error_code& error)
{
    std::vector<fs::path> names;
    WIN32_FIND_DATAW found{};
    const HANDLE search = FindFirstFileExW((LongPath(folder) / L"*").c_str(), FindExInfoBasic, &found,
                                           FindExSearchNameMatch, nullptr, 0);
    if (search == INVALID_HANDLE_VALUE) {
        error.assign(static_cast<int>(GetLastError()), std::system_category());
        return names;
    }
    do {
        const std::wstring name = found.cFileName;
        if (name != L"." && name != L"..")
            names.push_back(fs::path(name));
    } while (FindNextFileW(search, &found));
    const DWORD ended = GetLastError();
    FindClose(search);
    if (ended != ERROR_NO_MORE_FILES) {
        error.assign(static_cast<int>(ended), std::system_category());
        names.clear();
    } else {
        error.clear();
    }
    return names;
}

// ---- file times -------------------------------------------------------------------

FileTimes ReadFileTimes(const fs::path& path)
{
    const Handle file(OpenForAttributes(path));
    FILETIME creation{}, access{}, write{};
    if (!file.IsValid() || !GetFileTime(file.Get(), &creation, &access, &write))
        FailOn("cannot read the times of", path);
    return FileTimes{FromFiletime(creation), FromFiletime(access), FromFiletime(write)};
}

void WriteFileTimes(const fs::path& path, const FileTimes& times)
{
    const Handle file(OpenForAttributes(path, FILE_WRITE_ATTRIBUTES));
    const FILETIME creation = ToFiletime(times.creation), access = ToFiletime(times.access), write = ToFiletime(times.write);
    if (!file.IsValid() || !SetFileTime(file.Get(), &creation, &access, &write))
        FailOn("cannot set the times of", path);
}

// ---- files ------------------------------------------------------------------------------

std::FILE* OpenFile(const fs::path& path, const char* mode)
{
    return _wfopen(LongPath(path).c_str(), WideFromUtf8(mode).c_str());
}

std::FILE* BinaryStandardStream(bool output)
{
    std::FILE* stream = output ? stdout : stdin;
    _setmode(_fileno(stream), _O_BINARY);
    return stream;
}

SourceReader::SourceReader(const fs::path& path) : path_(path)
{
    // Shared with programs that have the file open, even for writing: a
    // log a service keeps open is packed as it stands. A program that holds
    // it without sharing makes the open fail, naming the file.
    HANDLE file = CreateFileW(LongPath(path).c_str(), GENERIC_READ | FILE_WRITE_ATTRIBUTES, kShareAll, nullptr,
                              OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
        // All ones: the system leaves the access time as it is.
        const FILETIME keep{0xFFFFFFFF, 0xFFFFFFFF};
        SetFileTime(file, nullptr, &keep, nullptr);
    } else if (GetLastError() == ERROR_ACCESS_DENIED) {
        // Changing its times is for those who may write it.
        file = CreateFileW(LongPath(path).c_str(), GENERIC_READ, kShareAll, nullptr, OPEN_EXISTING,
                           FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    }
    if (file == INVALID_HANDLE_VALUE)
        FailOn("cannot open", path);
    if (KindOfHandle(file) != FileKind::regular) {
        CloseHandle(file);
        throw std::runtime_error("'" + path.u8string() + "' is no longer a regular file");
    }
    handle_ = reinterpret_cast<std::intptr_t>(file);
}

SourceReader::~SourceReader()
{
    CloseHandle(reinterpret_cast<HANDLE>(handle_));
}

std::size_t SourceReader::Read(std::uint8_t* buffer, std::size_t size)
{
    std::size_t total = 0;
    while (total < size) {
        DWORD got = 0;
        const DWORD want = static_cast<DWORD>(std::min<std::size_t>(size - total, 1 << 30));
        if (!ReadFile(reinterpret_cast<HANDLE>(handle_), buffer + total, want, &got, nullptr))
            FailOn("cannot read", path_);
        if (got == 0)
            break;
        total += got;
    }
    return total;
}

fs::path CreateFileBeside(const fs::path& target, const std::string& prefix, std::FILE** file)
{
    HANDLE handle = INVALID_HANDLE_VALUE;
    // FILE_SHARE_DELETE: an interruption's clean-up may remove it while open.
    const fs::path created = MakeBeside(target, prefix, [&handle](const fs::path& candidate) {
        handle = CreateFileW(LongPath(candidate).c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE,
                             nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        return handle != INVALID_HANDLE_VALUE;
    });
    if (created.empty())
        FailOn("cannot create a temporary file beside", target);
    const int descriptor = _open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_BINARY);
    *file = descriptor < 0 ? nullptr : _fdopen(descriptor, "wb");
    if (!*file) {
        if (descriptor < 0)
            CloseHandle(handle);
        else
            _close(descriptor);
        DeleteFileW(LongPath(created).c_str());
        throw std::runtime_error("cannot create '" + created.u8string() + "': " + ErrnoText(errno));
    }
    return created;
}

fs::path CreateFolderBeside(const fs::path& target, const std::string& prefix, std::string& error)
{
    const fs::path created = MakeBeside(target, prefix, [](const fs::path& candidate) {
        return CreateDirectoryW(LongPath(candidate).c_str(), nullptr) != 0;
    });
    if (created.empty())
        error = Win32ErrorText(GetLastError());
    return created;
}

void MoveIntoPlace(const fs::path& from, const fs::path& to)
{
    const std::wstring source = LongPath(from).native();
    const std::wstring destination = LongPath(to).native();
    if (MoveFileExW(source.c_str(), destination.c_str(), MOVEFILE_REPLACE_EXISTING))
        return;
    DWORD error = GetLastError();
    // Linux replaces a read-only file whose folder may be written, and so
    // does the tool here: the read-only mark goes with the old file.
    const DWORD attributes = GetFileAttributesW(destination.c_str());
    if (error == ERROR_ACCESS_DENIED && attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) &&
        !(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        SetFileAttributesW(destination.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY);
        if (MoveFileExW(source.c_str(), destination.c_str(), MOVEFILE_REPLACE_EXISTING))
            return;
        error = GetLastError();
        SetFileAttributesW(destination.c_str(), attributes);
    }
    FailOn("cannot create", to, error);
}

// ---- child processes ---------------------------------------------------------------

std::string ProgramFileName(const std::string& program)
{
    return program + ".exe";
}

std::string InstallHint(const std::string& program)
{
    return "put " + ProgramFileName(program) + " (with the DLLs it comes with) in a folder on PATH";
}

bool ProgramOnPath(const std::string& program)
{
    return !FindOnPath(program).empty();
}

ChildRun RunProgram(const std::string& program, const std::vector<std::string>& arguments)
{
    const fs::path executable = FindOnPath(program);
    if (executable.empty())
        throw std::runtime_error(ProgramFileName(program) + " is not installed: " + InstallHint(program));
    std::wstring line;
    AppendQuoted(line, executable.native());
    for (const std::string& argument : arguments) {
        line += L' ';
        AppendQuoted(line, WideFromUtf8(argument));
    }

    SECURITY_ATTRIBUTES inheritable{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    HANDLE read_end = nullptr;
    HANDLE write_end = nullptr;
    if (!CreatePipe(&read_end, &write_end, &inheritable, 0))
        throw std::runtime_error("cannot create a pipe: " + Win32ErrorText(GetLastError()));
    const Handle output(read_end);
    Handle child_output(write_end);
    SetHandleInformation(read_end, HANDLE_FLAG_INHERIT, 0);
    const Handle no_input(CreateFileW(L"NUL", GENERIC_READ, kShareAll, &inheritable, OPEN_EXISTING, 0, nullptr));

    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = no_input.Get();
    startup.hStdOutput = write_end;
    startup.hStdError = write_end;
    PROCESS_INFORMATION process{};
    // No console of the tool's: a password comes from a file or not at all,
    // and a Ctrl+C meant for the tool does not stop the child half-way.
    if (!CreateProcessW(executable.c_str(), line.data(), nullptr, nullptr, TRUE,
                        CREATE_NO_WINDOW | CREATE_NEW_PROCESS_GROUP, nullptr, nullptr, &startup, &process))
        throw std::runtime_error("cannot start " + ProgramFileName(program) + ": " + Win32ErrorText(GetLastError()));
    const Handle child(process.hProcess);
    CloseHandle(process.hThread);
    // The child holds the only write end now: the read ends when it does.
    child_output.Close();
    ChildRun run;
    run.output = ReadAll(read_end);
    WaitForSingleObject(child.Get(), INFINITE);
    DWORD exit_code = 0;
    run.exit_code = GetExitCodeProcess(child.Get(), &exit_code) ? static_cast<int>(exit_code) : -1;
    return run;
}

}  // namespace stubkit::platform
