#include "stubkit/container/installer_file.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>

#include "stubkit/container/install_names.h"
#include "stubkit/container/pe_sections.h"
#include "stubkit/container/printable_text.h"
#include "stubkit/container/record_rules.h"
#include "stubkit/platform/platform.h"

namespace stubkit {
namespace {

void PutU32(std::vector<std::uint8_t>& out, std::uint32_t value)
{
    for (int shift = 0; shift < 32; shift += 8)
        out.push_back(static_cast<std::uint8_t>(value >> shift));
}

void PutU64(std::vector<std::uint8_t>& out, std::uint64_t value)
{
    PutU32(out, static_cast<std::uint32_t>(value));
    PutU32(out, static_cast<std::uint32_t>(value >> 32));
}

std::uint32_t GetU32(const std::uint8_t* bytes)
{
    return bytes[0] | bytes[1] << 8 | bytes[2] << 16 | static_cast<std::uint32_t>(bytes[3]) << 24;
}

std::uint64_t GetU64(const std::uint8_t* bytes)
{
    return GetU32(bytes) | static_cast<std::uint64_t>(GetU32(bytes + 4)) << 32;
}

// StubSize as the installer's atoi reads it, but without its wrap-around:
// leading blanks, a sign, digits; a value beyond any stub stays large.
std::int64_t ReadStubSizeText(const std::string& text)
{
    std::size_t at = text.find_first_not_of(" \t\n\v\f\r");
    if (at == std::string::npos)
        return 0;
    const bool negative = text[at] == '-';
    if (text[at] == '-' || text[at] == '+')
        ++at;
    std::int64_t value = 0;
    for (; at < text.size() && text[at] >= '0' && text[at] <= '9'; ++at)
        value = std::min<std::int64_t>(value * 10 + (text[at] - '0'), std::int64_t{1} << 40);
    return negative ? -value : value;
}

std::string IncompleteBecause(const std::filesystem::path& path, const std::string& reason)
{
    return Quoted(path) + " is incomplete: " + reason +
           "; the installer would stop with \"" + kIncompleteFileMessage + "\"";
}

bool MarkerAt(const std::vector<std::uint8_t>& image, std::size_t offset, const char* marker)
{
    const std::size_t length = std::strlen(marker) + 1;
    return offset + length <= image.size() && std::memcmp(&image[offset], marker, length) == 0;
}

std::optional<std::size_t> FindUnpatchedMarkers(const std::vector<std::uint8_t>& image)
{
    const std::string first = CONFIG_MARKER_STUB_SIZE;
    auto at = image.begin();
    while ((at = std::search(at, image.end(), first.begin(), first.end())) != image.end()) {
        const auto offset = static_cast<std::size_t>(at - image.begin());
        if (offset + InstallerConfigSize <= image.size() &&
            MarkerAt(image, offset, CONFIG_MARKER_STUB_SIZE) &&
            MarkerAt(image, offset + offsetof(InstallerConfig, Title), CONFIG_MARKER_TITLE) &&
            MarkerAt(image, offset + offsetof(InstallerConfig, RunAfterInstall),
                     CONFIG_MARKER_RUN_AFTER_INSTALL))
            return offset;
        ++at;
    }
    return std::nullopt;
}

std::vector<std::uint8_t> ReadHead(std::ifstream& in, std::uint64_t file_size)
{
    const std::uint64_t limit = kStubSizeLimit + kPayloadHeaderSize + kFileTableCapacity;
    std::vector<std::uint8_t> head(static_cast<std::size_t>(std::min(file_size, limit)));
    in.read(reinterpret_cast<char*>(head.data()), static_cast<std::streamsize>(head.size()));
    head.resize(static_cast<std::size_t>(in.gcount()));
    return head;
}

}  // namespace

std::size_t RecordSize(const FileRecord& record)
{
    return kFileRecordFixedSize + record.name.size();
}

std::vector<std::uint8_t> SerializeHeader(const PayloadHeader& header)
{
    std::vector<std::uint8_t> out;
    PutU32(out, header.file_count);
    PutU32(out, header.total_size);
    PutU32(out, header.table_size);
    return out;
}

std::vector<std::uint8_t> SerializeFileTable(const std::vector<FileRecord>& records)
{
    std::vector<std::uint8_t> out;
    for (const FileRecord& record : records) {
        if (record.name.size() > kMaxNameLength)
            throw std::length_error("file name longer than 255 bytes: " + record.name);
        PutU32(out, record.crc_value);
        PutU32(out, record.file_size);
        PutU64(out, record.creation_time);
        PutU64(out, record.access_time);
        PutU64(out, record.write_time);
        out.push_back(static_cast<std::uint8_t>(record.name.size()));
        out.insert(out.end(), record.name.begin(), record.name.end());
    }
    return out;
}

std::vector<FileRecord> ParseFileTable(const std::uint8_t* table, std::size_t size,
                                       std::uint32_t file_count)
{
    // Every record takes at least its fixed part, which bounds a bogus count
    // before anything is allocated for it.
    if (file_count > size / kFileRecordFixedSize)
        throw FormatError("file table of " + std::to_string(size) + " bytes cannot hold the " +
                          std::to_string(file_count) + " records the header announces");
    std::vector<FileRecord> records(file_count);
    std::size_t position = 0;
    for (std::uint32_t index = 0; index < file_count; ++index) {
        const std::string where = "file table: record " + std::to_string(index + 1) + " of " +
                                  std::to_string(file_count);
        if (size - position < kFileRecordFixedSize)
            throw FormatError(where + " runs past the table's end");
        const std::uint8_t* bytes = table + position;
        FileRecord& record = records[index];
        record.crc_value = GetU32(bytes);
        record.file_size = GetU32(bytes + 4);
        record.creation_time = GetU64(bytes + 8);
        record.access_time = GetU64(bytes + 16);
        record.write_time = GetU64(bytes + 24);
        const std::size_t name_length = bytes[32];
        if (size - position - kFileRecordFixedSize < name_length)
            throw FormatError(where + ": its name runs past the table's end");
        record.name.assign(reinterpret_cast<const char*>(bytes + kFileRecordFixedSize), name_length);
        position += kFileRecordFixedSize + name_length;
    }
    return records;
}

std::optional<std::size_t> FindConfigRecord(const std::vector<std::uint8_t>& image)
{
    const auto section = FindPeSection(image.data(), image.size(), kConfigSectionName);
    if (section && section->file_size >= InstallerConfigSize)
        return section->file_offset;
    return FindUnpatchedMarkers(image);
}

InstallerConfig ReadConfigRecord(const std::vector<std::uint8_t>& image, std::size_t offset)
{
    if (offset > image.size() || image.size() - offset < InstallerConfigSize)
        throw std::out_of_range("configuration record outside the image");
    InstallerConfig config;
    std::memcpy(&config, &image[offset], sizeof config);
    return config;
}

void WriteConfigRecord(std::vector<std::uint8_t>& image, std::size_t offset,
                       const InstallerConfig& config)
{
    if (offset > image.size() || image.size() - offset < InstallerConfigSize)
        throw std::out_of_range("configuration record outside the image");
    std::memcpy(&image[offset], &config, sizeof config);
}

std::string NonRegularFileProblem(const std::filesystem::path& path)
{
    using platform::FileKind;
    const platform::FileFacts facts = platform::ExamineFile(path, true);
    if (facts.kind == FileKind::missing)
        return "cannot open " + Quoted(path) + ": " + (facts.error.empty() ? platform::ErrnoText(ENOENT) : facts.error);
    const char* kind = facts.kind == FileKind::regular  ? nullptr
                       : facts.kind == FileKind::folder ? "a folder"
                       : facts.kind == FileKind::fifo   ? "a FIFO"
                       : facts.kind == FileKind::socket ? "a socket"
                       : facts.kind == FileKind::device ? "a device"
                                                        : "not a file";
    return kind ? Quoted(path) + " is " + kind + ", not a regular file" : std::string();
}

InstallerImage ReadInstallerImage(const std::filesystem::path& path)
{
    // Checked before opening: opening a FIFO would wait for a writer forever.
    const std::string problem = NonRegularFileProblem(path);
    if (!problem.empty())
        throw FormatError(problem);
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw FormatError("cannot open " + Quoted(path) + ": " + std::strerror(errno));
    std::error_code error;
    const std::uint64_t file_size = std::filesystem::file_size(path, error);
    if (error)
        throw FormatError("cannot open " + Quoted(path) + ": " + error.message());
    return ParseInstallerImage(ReadHead(in, file_size), file_size, path);
}

InstallerImage ParseInstallerImage(const std::vector<std::uint8_t>& head, std::uint64_t file_size,
                                   const std::filesystem::path& path)
{
    InstallerImage image;
    image.path = path;
    image.file_size = file_size;
    const std::optional<std::size_t> record = FindConfigRecord(head);
    if (!record)
        throw FormatError(Quoted(path) + " is not an installer: no configuration record found");
    image.config = ReadConfigRecord(head, *record);
    image.record_offset = *record;

    const std::string stub_size_text = StubSizeTextAsRead(image.config);
    const std::int64_t stub_size = ReadStubSizeText(stub_size_text);
    if (stub_size == 0)
        throw FormatError(Quoted(path) + " is an unconfigured installation file: StubSize reads " +
                          Quoted(stub_size_text) + " (an unpatched stub?)");
    // The installer reads the stub into its table buffer, so a
    // larger (or negative) size fails as a short read.
    if (stub_size < 0 || stub_size > kStubSizeLimit)
        throw FormatError(IncompleteBecause(path, "StubSize reads " + Quoted(stub_size_text) +
                                                      ", outside 1 to " + std::to_string(kStubSizeLimit) + " bytes"));
    image.stub_size = static_cast<std::uint32_t>(stub_size);
    if (file_size < image.stub_size)
        throw FormatError(IncompleteBecause(path, "cut inside the stub (" + std::to_string(file_size) + " of " +
                                                      std::to_string(image.stub_size) + " bytes)"));
    const std::uint64_t readable = std::min<std::uint64_t>(file_size, head.size());
    if (readable < image.stub_size + kPayloadHeaderSize)
        throw FormatError(IncompleteBecause(path, "cut inside the payload header (" +
                                                      std::to_string(readable - std::min<std::uint64_t>(readable, image.stub_size)) +
                                                      " of 12 bytes)"));

    image.stub.assign(head.begin(), head.begin() + image.stub_size);
    image.header.file_count = GetU32(&head[image.stub_size]);
    image.header.total_size = GetU32(&head[image.stub_size + 4]);
    image.header.table_size = GetU32(&head[image.stub_size + 8]);
    const std::uint32_t table_size = image.header.table_size;
    if (table_size > kFileTableCapacity)
        throw FormatError(IncompleteBecause(path, "its file table of " + std::to_string(table_size) +
                                                      " bytes exceeds the installer's limit of " + std::to_string(kFileTableCapacity) + " bytes"));
    const std::uint64_t table_offset = image.stub_size + kPayloadHeaderSize;
    if (readable - table_offset < table_size)
        throw FormatError(IncompleteBecause(path, "cut inside the file table (" + std::to_string(table_size) +
                                                      " bytes announced)"));
    try {
        image.records = ParseFileTable(head.data() + table_offset, table_size, image.header.file_count);
    } catch (const FormatError& fault) {
        throw FormatError(Quoted(path) + ": " + fault.what());
    }
    image.stream_offset = table_offset + table_size;
    return image;
}

std::string HeaderInconsistency(const InstallerImage& image)
{
    std::uint64_t sizes = 0;
    std::uint64_t table_size = 0;
    for (const FileRecord& record : image.records) {
        sizes += record.file_size;
        table_size += RecordSize(record);
    }
    if (sizes != image.header.total_size)
        return "header: total_size " + std::to_string(image.header.total_size) +
               " differs from the sum of the file sizes, " + std::to_string(sizes);
    if (table_size != image.header.table_size)
        return "header: table_size " + std::to_string(image.header.table_size) + " differs from the " +
               std::to_string(table_size) + " bytes of its " + std::to_string(image.records.size()) + " records";
    return std::string();
}

}  // namespace stubkit
