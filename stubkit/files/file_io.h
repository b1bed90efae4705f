// Files for the subcommands: every failure throws an error naming the file.
#ifndef STUBKIT_FILE_IO_H
#define STUBKIT_FILE_IO_H

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

namespace stubkit {

class File {
public:
    // mode as for fopen ("rb", "wb").
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
};

}  // namespace stubkit

#endif
