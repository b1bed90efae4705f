// stubkit/container: the installer file read and written as the installer
// sees it: PE sections of the stub, the configuration record, the payload
// header and file table (this header), and the payload run behind `test` and
// `extract` (payload_run.h). It may use the encoder's fast CRC, payload/
// (decoder, CRC) and common/installer_config, nothing of the commands.
//
// The product installer as a file: the stub with its configuration record,
// then the payload (a 12-byte header, the file table of FileRecords, and the
// compressed stream up to the end of the file). All integers little-endian.
#ifndef STUBKIT_INSTALLER_FILE_H
#define STUBKIT_INSTALLER_FILE_H

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "payload/payload_limits.h"

#include "common/installer_config.h"
#include "payload/crc32.h"

namespace stubkit {

// The installer reads both the stub and the file table into one buffer of
// this size, so neither may be larger.
// The installer skips its stub and then holds the file table in one buffer.
constexpr std::uint32_t kFileTableCapacity = FileTableSize;
constexpr std::uint32_t kStubSizeLimit = FileTableSize;
constexpr std::size_t kPayloadHeaderSize = 12;
constexpr std::size_t kFileRecordFixedSize = 33;   // 32 bytes of values + the name length
constexpr std::size_t kMaxNameLength = 255;
// The installer's own section holding the record, which the packer patches.
constexpr const char* kConfigSectionName = ".stubcfg";

// A damaged or foreign file: the message says what is wrong and where.
class FormatError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

struct FileRecord {
    std::uint32_t crc_value = CrcInitial;
    std::uint32_t file_size = 0;
    std::uint64_t creation_time = 0;   // Windows FILETIMEs
    std::uint64_t access_time = 0;
    std::uint64_t write_time = 0;
    std::string name;                  // ANSI, backslash-separated, relative
};

struct PayloadHeader {
    std::uint32_t file_count = 0;
    std::uint32_t total_size = 0;
    std::uint32_t table_size = 0;
};

std::size_t RecordSize(const FileRecord& record);
std::vector<std::uint8_t> SerializeHeader(const PayloadHeader& header);
std::vector<std::uint8_t> SerializeFileTable(const std::vector<FileRecord>& records);

// Exactly file_count records, which must lie inside the table's bytes. Bytes
// left over after them are tolerated, as the installer ignores them.
std::vector<FileRecord> ParseFileTable(const std::uint8_t* table, std::size_t size,
                                       std::uint32_t file_count);

// Offset of the configuration record inside a stub or installer: the stub's
// ".stubcfg" section, or else (for stubs without it) the place where the
// unpatched markers of the first slots stand.
std::optional<std::size_t> FindConfigRecord(const std::vector<std::uint8_t>& image);

InstallerConfig ReadConfigRecord(const std::vector<std::uint8_t>& image, std::size_t offset);
void WriteConfigRecord(std::vector<std::uint8_t>& image, std::size_t offset,
                       const InstallerConfig& config);

// The text of a slot as the installer reads it: up to the first NUL.
template <std::size_t N>
std::string SlotText(const char (&slot)[N])
{
    std::size_t length = 0;
    while (length < N && slot[length] != '\0')
        ++length;
    return std::string(slot, length);
}

// Writes `value` over the start of the slot with a terminating NUL and leaves
// the rest of the slot (e.g. the tail of a longer marker) as it was; the
// installer reads only up to the NUL. The caller has checked the length.
template <std::size_t N>
void WriteSlot(char (&slot)[N], const std::string& value)
{
    if (value.size() >= N)
        throw std::length_error("value does not fit its slot");
    value.copy(slot, value.size());
    slot[value.size()] = '\0';
}

// The head of an installer file as the installer reads it: the record, the
// stub size, the header and the file table, with the offset of the stream.
struct InstallerImage {
    std::filesystem::path path;
    std::uint64_t file_size = 0;
    InstallerConfig config{};
    std::uint32_t stub_size = 0;
    std::vector<std::uint8_t> stub;    // the program in front of the payload, record included
    std::size_t record_offset = 0;     // of the configuration record inside it
    PayloadHeader header;
    std::vector<FileRecord> records;
    std::uint64_t stream_offset = 0;
};

// Judges the head the way the installer does (a file that ends in the stub,
// the 12-byte header or the table is incomplete) and throws FormatError naming
// the file and the fault. Anything but a regular file is refused unopened.
InstallerImage ReadInstallerImage(const std::filesystem::path& path);

// Why `path` cannot be read as a file (missing, a folder, a FIFO that would
// block its reader, a device), or empty when it is a regular file.
std::string NonRegularFileProblem(const std::filesystem::path& path);

// The same for a file already in memory (`path` only names it in messages);
// `head` may stop after the file table.
InstallerImage ParseInstallerImage(const std::vector<std::uint8_t>& head, std::uint64_t file_size,
                                   const std::filesystem::path& path);

// What breaks the packer's promises about the header and the table: counts
// that disagree with the records. The installer might still "succeed" on
// such a file (say with total_size 0, installing nothing), but never with
// the whole product. Empty when all agree.
std::string HeaderInconsistency(const InstallerImage& image);

}  // namespace stubkit

#endif
