// The platform layer on Linux: POSIX calls, iconv for code pages, statx for
// birth times.
#include "stubkit/platform/platform.h"

#include <fcntl.h>
#include <iconv.h>
#include <locale.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <wctype.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <sstream>

extern char** environ;

namespace stubkit::platform {
namespace fs = std::filesystem;

namespace {

[[noreturn]] void FailOn(const char* what, const fs::path& path)
{
    throw std::runtime_error(std::string(what) + " '" + path.string() + "': " + ErrnoText(errno));
}

std::uint64_t FiletimeFromStatx(const statx_timestamp& stamp)
{
    return FiletimeFromUnix(stamp.tv_sec, stamp.tv_nsec);
}

FileKind KindOfMode(mode_t mode)
{
    if (S_ISREG(mode))
        return FileKind::regular;
    if (S_ISDIR(mode))
        return FileKind::folder;
    if (S_ISLNK(mode))
        return FileKind::link;
    if (S_ISFIFO(mode))
        return FileKind::fifo;
    if (S_ISSOCK(mode))
        return FileKind::socket;
    if (S_ISCHR(mode) || S_ISBLK(mode))
        return FileKind::device;
    return FileKind::other;
}

// ---- code pages through iconv ------------------------------------------------

// glibc's CP<n> tables are Windows' own (GBK and BIG5 are not: they lack
// the euro sign and Windows' extensions).
std::string CharsetName(int codepage)
{
    return "CP" + std::to_string(codepage);
}

struct IconvCloser {
    void operator()(void* handle) const { iconv_close(static_cast<iconv_t>(handle)); }
};
using IconvHandle = std::unique_ptr<void, IconvCloser>;

IconvHandle OpenConverter(const std::string& to, const std::string& from)
{
    iconv_t handle = iconv_open(to.c_str(), from.c_str());
    if (handle == reinterpret_cast<iconv_t>(-1))
        return nullptr;
    return IconvHandle(handle);
}

// Converts the whole text or reports the offset of the first byte that could
// not be converted (or that starts an incomplete sequence).
struct Conversion {
    std::string output;
    std::optional<size_t> failed_at;
};

Conversion Convert(void* handle, const std::string& input)
{
    Conversion result;
    auto* converter = static_cast<iconv_t>(handle);
    std::vector<char> in(input.begin(), input.end());
    char* in_ptr = in.data();
    size_t in_left = in.size();
    std::vector<char> out(input.size() * 4 + 16);
    char* out_ptr = out.data();
    size_t out_left = out.size();
    while (in_left > 0) {
        if (iconv(converter, &in_ptr, &in_left, &out_ptr, &out_left) == static_cast<size_t>(-1)) {
            if (errno == E2BIG)
                throw std::logic_error("conversion buffer too small");
            result.failed_at = static_cast<size_t>(in_ptr - in.data());
            break;
        }
    }
    if (!result.failed_at)
        iconv(converter, nullptr, nullptr, &out_ptr, &out_left);
    result.output.assign(out.data(), static_cast<size_t>(out_ptr - out.data()));
    return result;
}

bool IsDoubleByteCodepage(int codepage)
{
    return codepage == 932 || codepage == 936 || codepage == 949 || codepage == 950;
}

// Windows gives each byte 0x80-0x9F that a single-byte code page leaves
// undefined the C1 control of the same number (cp1252's 0x81 is U+0081),
// and back; glibc's tables leave those bytes out.
bool IsC1PassThrough(int codepage, unsigned char byte)
{
    if (IsDoubleByteCodepage(codepage) || byte < 0x80 || byte > 0x9F)
        return false;
    IconvHandle converter = OpenConverter("UTF-8", CharsetName(codepage));
    return Convert(converter.get(), std::string(1, static_cast<char>(byte))).failed_at.has_value();
}

// ---- child processes -----------------------------------------------------------

class Pipe {
public:
    Pipe()
    {
        if (pipe(ends_) != 0)
            throw std::runtime_error("cannot create a pipe: " + ErrnoText(errno));
    }
    ~Pipe()
    {
        CloseRead();
        CloseWrite();
    }
    Pipe(const Pipe&) = delete;
    Pipe& operator=(const Pipe&) = delete;
    int Read() const { return ends_[0]; }
    int Write() const { return ends_[1]; }
    void CloseRead() { Close(ends_[0]); }
    void CloseWrite() { Close(ends_[1]); }

private:
    static void Close(int& end)
    {
        if (end >= 0)
            close(end);
        end = -1;
    }
    int ends_[2] = {-1, -1};
};

class SpawnActions {
public:
    SpawnActions() { posix_spawn_file_actions_init(&actions_); }
    ~SpawnActions() { posix_spawn_file_actions_destroy(&actions_); }
    SpawnActions(const SpawnActions&) = delete;
    SpawnActions& operator=(const SpawnActions&) = delete;
    posix_spawn_file_actions_t* Get() { return &actions_; }

private:
    posix_spawn_file_actions_t actions_;
};

std::string ReadAll(int descriptor)
{
    std::string text;
    char buffer[4096];
    for (;;) {
        const ssize_t got = read(descriptor, buffer, sizeof buffer);
        if (got > 0)
            text.append(buffer, static_cast<std::size_t>(got));
        else if (got == 0 || errno != EINTR)
            return text;
    }
}

constexpr int kInterruptions[] = {SIGINT, SIGTERM, SIGHUP};
// The handler may use only what is safe inside one: a fixed buffer, unlink
// and _exit.
char removed_on_interruption[4096];
struct sigaction previous_handling[3];

extern "C" void RemoveAndExit(int signal_number)
{
    ::unlink(removed_on_interruption);
    ::_exit(128 + signal_number);
}

}  // namespace

// ---- console and command line ------------------------------------------------

std::vector<std::string> Utf8Arguments(int argc, char** argv)
{
    return std::vector<std::string>(argv, argv + argc);
}

void PrepareConsole()
{
}

bool StderrIsTerminal()
{
    return isatty(STDERR_FILENO) == 1;
}

void RemoveOnInterruption(const fs::path* path)
{
    if (!path) {
        for (std::size_t i = 0; i < 3; ++i)
            ::sigaction(kInterruptions[i], &previous_handling[i], nullptr);
        return;
    }
    const std::string& text = path->native();
    if (text.size() >= sizeof removed_on_interruption)
        throw std::length_error("path too long: " + text);
    std::memcpy(removed_on_interruption, text.c_str(), text.size() + 1);
    struct sigaction action {};
    action.sa_handler = RemoveAndExit;
    sigfillset(&action.sa_mask);
    for (std::size_t i = 0; i < 3; ++i)
        ::sigaction(kInterruptions[i], &action, &previous_handling[i]);
}

// ---- text ------------------------------------------------------------------------

bool CanConvertCodepage(int codepage)
{
    return OpenConverter(CharsetName(codepage), "UTF-8") && OpenConverter("UTF-8", CharsetName(codepage));
}

std::optional<std::string> Utf8ToCodepage(int codepage, const std::string& utf8)
{
    IconvHandle converter = OpenConverter(CharsetName(codepage), "UTF-8");
    std::string result;
    std::string rest = utf8;
    for (;;) {
        Conversion conversion = Convert(converter.get(), rest);
        result += conversion.output;
        if (!conversion.failed_at)
            return result;
        const std::size_t at = *conversion.failed_at;
        // U+0080-U+009F are two UTF-8 bytes, C2 80 to C2 9F.
        const unsigned char lead = static_cast<unsigned char>(rest[at]);
        const unsigned char next = at + 1 < rest.size() ? static_cast<unsigned char>(rest[at + 1]) : 0;
        if (lead != 0xC2 || !IsC1PassThrough(codepage, next))
            return std::nullopt;
        result += static_cast<char>(next);
        rest.erase(0, at + 2);
        iconv(static_cast<iconv_t>(converter.get()), nullptr, nullptr, nullptr, nullptr);
    }
}

namespace {

// Undefined bytes become U+FFFD, or end the conversion when `exact`.
std::optional<std::string> DecodeCodepage(int codepage, const std::string& bytes, bool exact)
{
    IconvHandle converter = OpenConverter("UTF-8", CharsetName(codepage));
    std::string result;
    std::string rest = bytes;
    for (;;) {
        Conversion conversion = Convert(converter.get(), rest);
        result += conversion.output;
        if (!conversion.failed_at)
            return result;
        const unsigned char byte = static_cast<unsigned char>(rest[*conversion.failed_at]);
        if (IsC1PassThrough(codepage, byte))
            result += {static_cast<char>(0xC2), static_cast<char>(byte)};
        else if (exact)
            return std::nullopt;
        else
            result += "\xEF\xBF\xBD";
        rest.erase(0, *conversion.failed_at + 1);
        iconv(static_cast<iconv_t>(converter.get()), nullptr, nullptr, nullptr, nullptr);
    }
}

}  // namespace

std::string CodepageToUtf8(int codepage, const std::string& bytes)
{
    return *DecodeCodepage(codepage, bytes, false);
}

std::optional<std::string> CodepageToUtf8Exactly(int codepage, const std::string& bytes)
{
    return DecodeCodepage(codepage, bytes, true);
}

std::string FoldCaseUtf8(const std::string& utf8)
{
    static locale_t utf8_locale = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(0));
    IconvHandle to_wide = OpenConverter("WCHAR_T", "UTF-8");
    IconvHandle to_utf8 = OpenConverter("UTF-8", "WCHAR_T");
    if (!to_wide || !to_utf8)
        throw std::runtime_error("no UTF-8 converter on this system");
    Conversion wide = Convert(to_wide.get(), utf8);
    std::string folded_wide = wide.output;
    for (size_t i = 0; i + sizeof(wchar_t) <= folded_wide.size(); i += sizeof(wchar_t)) {
        wchar_t c;
        folded_wide.copy(reinterpret_cast<char*>(&c), sizeof c, i);
        c = utf8_locale ? static_cast<wchar_t>(towupper_l(static_cast<wint_t>(c), utf8_locale))
                        : (c >= L'a' && c <= L'z' ? c - L'a' + L'A' : c);
        folded_wide.replace(i, sizeof c, reinterpret_cast<const char*>(&c), sizeof c);
    }
    std::string folded = Convert(to_utf8.get(), folded_wide).output;
    // Undecodable input keeps its bytes: it cannot match anything else anyway.
    if (wide.failed_at)
        folded += utf8.substr(*wide.failed_at);
    return folded;
}

std::string ErrnoText(int error)
{
    return std::strerror(error);
}

// ---- file kinds and links ---------------------------------------------------------

FileFacts ExamineFile(const fs::path& path, bool follow_links)
{
    struct stat status {};
    FileFacts facts;
    const int result = follow_links ? ::stat(path.c_str(), &status) : ::lstat(path.c_str(), &status);
    if (result != 0) {
        if (errno != ENOENT)
            facts.error = ErrnoText(errno);
        return facts;
    }
    facts.kind = KindOfMode(status.st_mode);
    facts.size = static_cast<std::uint64_t>(status.st_size);
    return facts;
}

fs::path RealPath(const fs::path& path, std::error_code& error)
{
    return fs::canonical(path, error);
}

bool SameFile(const fs::path& first, const fs::path& second)
{
    struct stat a {};
    struct stat b {};
    return ::stat(first.c_str(), &a) == 0 && ::stat(second.c_str(), &b) == 0 && a.st_dev == b.st_dev &&
           a.st_ino == b.st_ino;
}

fs::path LongPath(const fs::path& path)
{
    return path;
}

void CreateFolders(const fs::path& folder, std::error_code& error)
{
    fs::create_directories(folder, error);
}

std::vector<fs::path> ListFolder(const fs::path& folder, std::error_code& error)
{
    std::vector<fs::path> names;
    fs::directory_iterator entries(folder, error);
    for (; !error && entries != fs::directory_iterator(); entries.increment(error))
        names.push_back(entries->path().filename());
    if (error)
        names.clear();
    return names;
}

// ---- file times -------------------------------------------------------------------

FileTimes ReadFileTimes(const fs::path& path)
{
    struct statx status {};
    if (statx(AT_FDCWD, path.c_str(), 0, STATX_BTIME | STATX_ATIME | STATX_MTIME, &status) != 0)
        FailOn("cannot read the times of", path);
    FileTimes times;
    times.write = FiletimeFromStatx(status.stx_mtime);
    times.access = FiletimeFromStatx(status.stx_atime);
    times.creation = (status.stx_mask & STATX_BTIME) ? FiletimeFromStatx(status.stx_btime) : times.write;
    return times;
}

void WriteFileTimes(const fs::path& path, const FileTimes& times)
{
    const timespec access_and_write[2] = {UnixFromFiletime(times.access), UnixFromFiletime(times.write)};
    if (utimensat(AT_FDCWD, path.c_str(), access_and_write, 0) != 0)
        FailOn("cannot set the times of", path);
}

// ---- files ------------------------------------------------------------------------------

std::FILE* OpenFile(const fs::path& path, const char* mode)
{
    return std::fopen(path.c_str(), mode);
}

std::FILE* BinaryStandardStream(bool output)
{
    return output ? stdout : stdin;
}

SourceReader::SourceReader(const fs::path& path) : path_(path)
{
    // O_NONBLOCK: a file swapped for a FIFO since it was listed must not
    // block the build; it is refused below.
    int descriptor = ::open(path.c_str(), O_RDONLY | O_NOATIME | O_NONBLOCK | O_CLOEXEC);
    if (descriptor < 0 && errno == EPERM)   // O_NOATIME is for the file's owner only
        descriptor = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (descriptor < 0)
        FailOn("cannot open", path);
    struct stat status {};
    if (::fstat(descriptor, &status) != 0 || !S_ISREG(status.st_mode)) {
        ::close(descriptor);
        throw std::runtime_error("'" + path.string() + "' is no longer a regular file");
    }
    handle_ = descriptor;
}

SourceReader::~SourceReader()
{
    ::close(static_cast<int>(handle_));
}

std::size_t SourceReader::Read(std::uint8_t* buffer, std::size_t size)
{
    std::size_t total = 0;
    while (total < size) {
        const ssize_t done = ::read(static_cast<int>(handle_), buffer + total, size - total);
        if (done == 0)
            break;
        if (done < 0 && errno == EINTR)
            continue;
        if (done < 0)
            FailOn("cannot read", path_);
        total += static_cast<std::size_t>(done);
    }
    return total;
}

fs::path CreateFileBeside(const fs::path& target, const std::string& prefix, std::FILE** file)
{
    std::string name = (target.parent_path() / (prefix + "XXXXXX")).string();
    const int descriptor = ::mkostemp(name.data(), O_CLOEXEC);
    if (descriptor < 0)
        FailOn("cannot create a temporary file beside", target);
    // mkostemp makes the file private; give it what a new file normally gets.
    const mode_t mask = ::umask(0);
    ::umask(mask);
    ::fchmod(descriptor, 0666 & ~mask);
    *file = ::fdopen(descriptor, "wb");
    if (!*file) {
        const int error = errno;
        ::close(descriptor);
        ::unlink(name.c_str());
        errno = error;
        FailOn("cannot create", name);
    }
    return name;
}

fs::path CreateFolderBeside(const fs::path& target, const std::string& prefix, std::string& error)
{
    const fs::path parent = target.has_parent_path() ? target.parent_path() : fs::path(".");
    std::string pattern = (parent / (prefix + "XXXXXX")).string();
    if (mkdtemp(pattern.data()))
        return pattern;
    error = ErrnoText(errno);
    return fs::path();
}

void MoveIntoPlace(const fs::path& from, const fs::path& to)
{
    std::error_code error;
    fs::rename(from, to, error);
    if (error)
        throw std::runtime_error("cannot create '" + to.string() + "': " + error.message());
}

// ---- child processes ---------------------------------------------------------------

std::string ProgramFileName(const std::string& program)
{
    return program;
}

std::string InstallHint(const std::string& program)
{
    return "install it (Debian: apt-get install " + program + ")";
}

bool ProgramOnPath(const std::string& program)
{
    const char* path = std::getenv("PATH");
    std::istringstream folders(path ? path : "");
    std::string folder;
    while (std::getline(folders, folder, ':'))
        if (!folder.empty() && access((fs::path(folder) / program).c_str(), X_OK) == 0)
            return true;
    return false;
}

ChildRun RunProgram(const std::string& program, const std::vector<std::string>& arguments)
{
    std::vector<std::string> copies = arguments;
    copies.insert(copies.begin(), program);
    std::vector<char*> argv;
    for (std::string& argument : copies)
        argv.push_back(argument.data());
    argv.push_back(nullptr);

    Pipe output;
    SpawnActions actions;
    posix_spawn_file_actions_addopen(actions.Get(), 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(actions.Get(), output.Write(), 1);
    posix_spawn_file_actions_adddup2(actions.Get(), output.Write(), 2);
    posix_spawn_file_actions_addclose(actions.Get(), output.Read());
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    // A session of its own, without the terminal: a password comes from a
    // file or not at all, and the tool never stops at a hidden prompt.
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSID);
    pid_t child = 0;
    const int error = posix_spawnp(&child, program.c_str(), actions.Get(), &attributes, argv.data(), environ);
    posix_spawnattr_destroy(&attributes);
    if (error == ENOENT)
        throw std::runtime_error(program + " is not installed: " + InstallHint(program));
    if (error != 0)
        throw std::runtime_error("cannot start " + program + ": " + ErrnoText(error));
    output.CloseWrite();
    ChildRun run;
    run.output = ReadAll(output.Read());
    int status = 0;
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    run.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

}  // namespace stubkit::platform
