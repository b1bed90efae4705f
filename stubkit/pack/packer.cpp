#include "stubkit/pack/packer.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>
#include <stdexcept>
#include <vector>

#include "payload/crc32.h"
#include "stubkit/crc/fast_crc32.h"
#include "stubkit/encoder/encoder.h"
#include "stubkit/platform/platform.h"
#include "stubkit/files/interrupt_cleanup.h"

namespace stubkit {
namespace fs = std::filesystem;

namespace {

// The output under its temporary name until Commit renames it into place.
// The temporary file is new (created exclusively under a fresh name in the
// output's folder), so an existing file or link of any name is never written.
class PendingOutput {
public:
    explicit PendingOutput(const fs::path& output)
        : output_(output),
          temporary_(platform::CreateFileBeside(output, "." + output.filename().u8string() + ".partial-", &file_))
    {
        interrupted_.emplace(temporary_);
    }
    ~PendingOutput()
    {
        if (file_)
            std::fclose(file_);
        if (!committed_) {
            std::error_code ignored;
            fs::remove(temporary_, ignored);
        }
    }
    PendingOutput(const PendingOutput&) = delete;
    PendingOutput& operator=(const PendingOutput&) = delete;

    void Write(const std::uint8_t* bytes, std::size_t size)
    {
        if (size > 0 && std::fwrite(bytes, 1, size, file_) != size)
            Fail("cannot write");
        written_ += size;
    }
    void Write(const std::vector<std::uint8_t>& bytes) { Write(bytes.data(), bytes.size()); }

    void WriteAt(std::uint64_t offset, const std::vector<std::uint8_t>& bytes)
    {
        if (std::fseek(file_, static_cast<long>(offset), SEEK_SET) != 0 ||
            std::fwrite(bytes.data(), 1, bytes.size(), file_) != bytes.size() ||
            std::fseek(file_, 0, SEEK_END) != 0)
            Fail("cannot write");
    }

    std::uint64_t Written() const { return written_; }

    void Commit()
    {
        std::FILE* file = file_;
        file_ = nullptr;
        if (std::fclose(file) != 0)
            Fail("cannot write");
        platform::MoveIntoPlace(temporary_, output_);
        committed_ = true;
    }

private:
    [[noreturn]] void Fail(const char* what)
    {
        throw std::runtime_error(std::string(what) + " '" + temporary_.u8string() + "': " + platform::ErrnoText(errno));
    }

    fs::path output_;
    std::optional<RemovedOnInterrupt> interrupted_;
    std::FILE* file_ = nullptr;
    fs::path temporary_;
    std::uint64_t written_ = 0;
    bool committed_ = false;
};

// Feeds one file into the encoder and returns its crc_value; the file must
// still have the size it was planned with.
std::uint32_t CompressFile(const SourceFile& file, StreamEncoder& encoder, std::vector<std::uint8_t>& buffer,
                           std::uint64_t& done, const PackProgress& progress)
{
    platform::SourceReader reader(file.path);
    std::uint32_t crc = CrcInitial;
    std::uint64_t size = 0;
    while (std::size_t got = reader.Read(buffer.data(), buffer.size())) {
        size += got;
        if (size > file.size)
            break;
        crc = UpdateCrcFast(crc, buffer.data(), got);
        encoder.Write(buffer.data(), got);
        done += got;
        if (progress)
            progress(done);
    }
    if (size != file.size)
        throw std::runtime_error("'" + file.path.u8string() + "' changed while it was being packed (" +
                                 std::to_string(file.size) + " bytes expected)");
    return crc;
}

}  // namespace

PackResult WriteInstaller(const PackPlan& plan, const Stub& stub, const fs::path& output, int level,
                          int threads, const PackProgress& progress)
{
    std::vector<FileRecord> records = plan.records;
    PayloadHeader header;
    header.file_count = static_cast<std::uint32_t>(records.size());
    header.total_size = static_cast<std::uint32_t>(plan.total_size);
    header.table_size = static_cast<std::uint32_t>(SerializeFileTable(records).size());

    PendingOutput out(output);
    out.Write(PatchStub(stub, plan.texts));
    out.Write(SerializeHeader(header));
    const std::uint64_t table_offset = out.Written();
    // The table precedes the stream but its CRCs are known only after
    // compressing: reserve its place and fill it in at the end.
    out.Write(std::vector<std::uint8_t>(header.table_size, 0));
    const std::uint64_t stream_offset = out.Written();

    StreamEncoder encoder(
        level, [&out](const std::uint8_t* bytes, std::size_t size) { out.Write(bytes, size); }, threads);
    std::vector<std::uint8_t> buffer(1 << 20);
    std::uint64_t done = 0;
    for (std::size_t i = 0; i < records.size(); ++i)
        records[i].crc_value = CompressFile(plan.files[i], encoder, buffer, done, progress);
    encoder.Finish();
    out.WriteAt(table_offset, SerializeFileTable(records));

    PackResult result;
    result.installer_size = out.Written();
    result.stream_size = out.Written() - stream_offset;
    out.Commit();
    return result;
}

}  // namespace stubkit
