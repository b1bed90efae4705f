// Files for the subcommands: every failure throws an error naming the file.
#ifndef STUBKIT_FILE_IO_H
#define STUBKIT_FILE_IO_H

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>

namespace stubkit {

// The name that stands for standard input or output on a command line.
constexpr const char* kStandardStreamName = "-";

class File {
public:
    // mode as for fopen ("rb", "wb"); "-" is standard input or output.
    File(const std::string& path, const char* mode);
    ~File();
    File(const File&) = delete;
    File& operator=(const File&) = delete;

    // Reads up to size bytes; returns fewer only at the end of the file.
    size_t Read(uint8_t* bytes, size_t size);
    void Write(const uint8_t* bytes, size_t size);
    // Flushes and closes, reporting a failed write.
    void Close();
    std::FILE* Handle() { return file_; }
    const std::string& Path() const { return path_; }

private:
    std::string path_;
    std::FILE* file_;
    bool standard_ = false;   // flushed, not closed: the process owns it
};

// An installer named "-" on the command line: standard input copied to a
// temporary file, since reading one seeks (the table before the stream, the
// signature behind it). Any other name is used as it stands.
class InstallerInput {
public:
    explicit InstallerInput(const std::filesystem::path& named);
    ~InstallerInput();
    InstallerInput(const InstallerInput&) = delete;
    InstallerInput& operator=(const InstallerInput&) = delete;

    // The file to read.
    const std::filesystem::path& Path() const { return path_; }
    // A message about Path() as about the name given ('-' for the copy).
    std::string Named(const std::string& message) const;

private:
    std::filesystem::path path_;
    bool temporary_ = false;
};

}  // namespace stubkit

#endif
