// Fuzz input: one selector byte, then either a whole installer file (odd
// selector: the PE lookup and marker search see the bytes) or a payload that
// follows a small well-formed stub (even selector: the header, the table and
// the extraction rules see them). Parsing must end in an image or a
// FormatError, and the extraction run must keep to the records it was given.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "stubkit/container/installer_file.h"
#include "stubkit/container/payload_run.h"

namespace {

using stubkit::FileRecord;

// Long enough for a real decode, short enough for libFuzzer's time limit.
constexpr std::uint32_t kLargestTotal = 1 << 24;

void PutU16(std::vector<std::uint8_t>& bytes, std::size_t at, std::uint32_t value)
{
    bytes[at] = static_cast<std::uint8_t>(value);
    bytes[at + 1] = static_cast<std::uint8_t>(value >> 8);
}

void PutU32(std::vector<std::uint8_t>& bytes, std::size_t at, std::uint32_t value)
{
    PutU16(bytes, at, value & 0xFFFF);
    PutU16(bytes, at + 2, value >> 16);
}

// MZ and PE headers with one ".stubcfg" section holding a configured record.
std::vector<std::uint8_t> MakeStub()
{
    constexpr std::size_t kPe = 0x40;
    constexpr std::size_t kOptionalHeaderSize = 0xE0;
    constexpr std::size_t kSectionHeader = kPe + 24 + kOptionalHeaderSize;
    constexpr std::size_t kRecord = 0x200;
    std::vector<std::uint8_t> stub(kRecord + InstallerConfigSize, 0);
    stub[0] = 'M';
    stub[1] = 'Z';
    PutU32(stub, 0x3C, kPe);
    std::memcpy(&stub[kPe], "PE\0\0", 4);
    PutU16(stub, kPe + 4, 0x14C);
    PutU16(stub, kPe + 6, 1);
    PutU16(stub, kPe + 20, kOptionalHeaderSize);
    std::memcpy(&stub[kSectionHeader], ".stubcfg", 8);
    PutU32(stub, kSectionHeader + 8, InstallerConfigSize);
    PutU32(stub, kSectionHeader + 12, 0x1000);
    PutU32(stub, kSectionHeader + 16, InstallerConfigSize);
    PutU32(stub, kSectionHeader + 20, kRecord);
    const std::string stub_size = std::to_string(stub.size());
    std::memcpy(&stub[kRecord], stub_size.c_str(), stub_size.size() + 1);
    return stub;
}

class CheckingOutput : public stubkit::FileOutput {
public:
    explicit CheckingOutput(const std::vector<FileRecord>& records) : records_(records) {}

    void Open(std::size_t index, const FileRecord&) override
    {
        if (index >= records_.size() || (open_ && index <= current_))
            std::abort();
        current_ = index;
        open_ = true;
        written_ = 0;
    }
    void Write(const std::uint8_t*, std::size_t size) override
    {
        written_ += size;
        if (!open_ || written_ > records_[current_].file_size)
            std::abort();
    }
    void Close(std::size_t index, const FileRecord&) override
    {
        if (index != current_)
            std::abort();
    }
    void Abandon(std::size_t index) override
    {
        if (index != current_)
            std::abort();
    }

private:
    const std::vector<FileRecord>& records_;
    std::size_t current_ = 0;
    std::size_t written_ = 0;
    bool open_ = false;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 1)
        return 0;
    static const std::vector<std::uint8_t> stub = MakeStub();
    std::vector<std::uint8_t> file;
    if (data[0] & 1) {
        file.assign(data + 1, data + size);
    } else {
        file = stub;
        file.insert(file.end(), data + 1, data + size);
    }
    try {
        const stubkit::InstallerImage image = stubkit::ParseInstallerImage(file, file.size(), "fuzz input");
        stubkit::HeaderInconsistency(image);
        if (image.header.total_size > kLargestTotal)
            return 0;
        CheckingOutput output(image.records);
        const stubkit::PayloadVerdict verdict =
            stubkit::RunPayloadInMemory(image, file.data(), file.size(), &output, nullptr);
        if (verdict.files_reached > image.records.size() ||
            (verdict.damaged_file && *verdict.damaged_file >= image.records.size()))
            std::abort();
    } catch (const stubkit::FormatError&) {
    }
    return 0;
}
