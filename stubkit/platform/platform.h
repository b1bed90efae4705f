// stubkit/platform/: everything the tool does differently on Linux and on
// Windows: the console and the command line, code-page conversion, file
// kinds and links, file times, files created beside others, child processes
// and interruption. posix.cpp and windows.cpp implement this header, one per
// host; nothing above this folder tests which host it runs on.
//
// Paths are std::filesystem paths (UTF-16 inside on Windows); texts are
// UTF-8 on both hosts, and a path made from a text goes through u8path.
#ifndef STUBKIT_PLATFORM_PLATFORM_H
#define STUBKIT_PLATFORM_PLATFORM_H

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace stubkit::platform {

// ---- console and command line ------------------------------------------------

// The process's arguments as UTF-8. Windows hands main() its arguments in the
// ANSI code page, which cannot hold every name; they are taken from the wide
// command line instead.
std::vector<std::string> Utf8Arguments(int argc, char** argv);

// Lets UTF-8 text and the progress bar's escape sequences reach a console
// as they are meant (a Windows console otherwise shows them in its own code
// page); restores the console when the process ends.
void PrepareConsole();

// True when stderr is a terminal, where a progress bar (and chatter) belongs.
bool StderrIsTerminal();

// While set, stopping the tool (SIGINT, SIGTERM, SIGHUP; a Windows console's
// Ctrl+C, Ctrl+Break, close or log-off) removes the file at `path` and ends
// the process with 128 + the signal's number, as a shell reports it (Ctrl+C
// 130, close 129, the rest 143). Null restores the previous handling. One
// file at a time. Throws when the path does not fit the handler's buffer.
void RemoveOnInterruption(const std::filesystem::path* path);

// ---- text ------------------------------------------------------------------------

// Whether this host can convert between UTF-8 and the code page.
bool CanConvertCodepage(int codepage);

// The code page's bytes for a UTF-8 text, or nothing when a character has no
// exact form in it (no best-fit substitutes) or the text is not UTF-8.
std::optional<std::string> Utf8ToCodepage(int codepage, const std::string& utf8);

// UTF-8 for code-page bytes; a byte (or byte pair) the code page does not
// define becomes U+FFFD, so a damaged name can still be shown.
std::string CodepageToUtf8(int codepage, const std::string& bytes);

// UTF-8 for code-page bytes, or nothing when one is undefined.
std::optional<std::string> CodepageToUtf8Exactly(int codepage, const std::string& bytes);

// Letter case folded the way Windows compares file names (simple upper case).
std::string FoldCaseUtf8(const std::string& utf8);

// The text of an errno value, the same words on both hosts.
std::string ErrnoText(int error);

// ---- file kinds and links ---------------------------------------------------------

enum class FileKind { missing, regular, folder, link, fifo, socket, device, other };

struct FileFacts {
    FileKind kind = FileKind::missing;
    std::uint64_t size = 0;   // of a regular file
    std::string error;   // why it could not be examined; empty when it could
};

// What stands at `path`. With `follow_links` a link (a symbolic link, or on
// Windows also a junction) is examined through; a dangling one is missing.
FileFacts ExamineFile(const std::filesystem::path& path, bool follow_links);

// The absolute path with every link, "." and ".." resolved; the path must
// exist.
std::filesystem::path RealPath(const std::filesystem::path& path, std::error_code& error);

// True when both paths name one existing file (through links, hard links or
// different spellings); false when either is missing.
bool SameFile(const std::filesystem::path& first, const std::filesystem::path& second);

// A path the host's calls accept whatever its length (Windows: the \\?\ form
// of the absolute path, past the 260-character limit).
std::filesystem::path LongPath(const std::filesystem::path& path);

// Creates `folder` and its missing parents; `error` tells why it could not.
void CreateFolders(const std::filesystem::path& folder, std::error_code& error);

// The names of the entries in `folder` (without "." and ".."), in the order
// the file system gives them; empty with `error` set when it cannot be read.
std::vector<std::filesystem::path> ListFolder(const std::filesystem::path& folder, std::error_code& error);

// ---- file times -------------------------------------------------------------------

// Windows FILETIMEs (100-nanosecond ticks since 1601-01-01 UTC).
struct FileTimes {
    std::uint64_t creation = 0;
    std::uint64_t access = 0;
    std::uint64_t write = 0;
};

// Conversions between FILETIMEs and Unix times (seconds and nanoseconds since
// 1970); a time before 1601 becomes 0.
std::uint64_t FiletimeFromUnix(std::int64_t seconds, std::uint32_t nanoseconds);
timespec UnixFromFiletime(std::uint64_t filetime);

// Creation is the file system's birth time where it keeps one, else the
// modification time. Throws naming the file when it cannot be read.
FileTimes ReadFileTimes(const std::filesystem::path& path);

// Sets the times through the links at `path`; Linux sets no creation time.
// Throws naming the file.
void WriteFileTimes(const std::filesystem::path& path, const FileTimes& times);

// ---- files ------------------------------------------------------------------------------

// fopen for any path (Windows: through the wide call).
std::FILE* OpenFile(const std::filesystem::path& path, const char* mode);

// stdin or stdout for bytes: Windows would otherwise turn LF into CR LF.
std::FILE* BinaryStandardStream(bool output);

// A product file read for packing: opened without moving its access time and
// without waiting on a FIFO swapped in since it was listed, shared with
// programs that write it, refused unless it is a regular file.
class SourceReader {
public:
    explicit SourceReader(const std::filesystem::path& path);
    ~SourceReader();
    SourceReader(const SourceReader&) = delete;
    SourceReader& operator=(const SourceReader&) = delete;

    // Fewer bytes than asked only at the end. Throws naming the file.
    std::size_t Read(std::uint8_t* buffer, std::size_t size);

private:
    std::filesystem::path path_;
    std::intptr_t handle_;
};

// A new file beside `target` under a fresh name starting with `prefix`,
// created exclusively (never an existing file or link), with the
// permissions a new file normally gets. Gives its path; throws on failure.
std::filesystem::path CreateFileBeside(const std::filesystem::path& target, const std::string& prefix,
                                       std::FILE** file);

// A new, private folder beside `target`, named `prefix` and a fresh suffix;
// empty, with `error` set, when it cannot be made.
std::filesystem::path CreateFolderBeside(const std::filesystem::path& target, const std::string& prefix,
                                         std::string& error);

// Moves `from` to `to`, replacing a file there; throws naming `to`.
void MoveIntoPlace(const std::filesystem::path& from, const std::filesystem::path& to);

// ---- child processes ---------------------------------------------------------------

struct ChildRun {
    int exit_code = -1;
    std::string output;   // stdout and stderr together
};

// The file name of `program` on this host ("osslsigncode.exe" on Windows).
std::string ProgramFileName(const std::string& program);

// How to get `program` onto this host, for messages.
std::string InstallHint(const std::string& program);

// True when `program` can be found on PATH.
bool ProgramOnPath(const std::string& program);

// Runs `program`, found on PATH, with `arguments` passed exactly as they
// are, with no input and without the tool's terminal or console; waits for
// it. Throws when it is not on PATH or cannot be started.
ChildRun RunProgram(const std::string& program, const std::vector<std::string>& arguments);

}  // namespace stubkit::platform

#endif
