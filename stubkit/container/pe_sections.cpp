#include "stubkit/container/pe_sections.h"

#include <algorithm>

namespace stubkit {
namespace {

constexpr std::uint32_t kPeSignature = 0x00004550;   // "PE\0\0"
constexpr std::size_t kSectionHeaderSize = 40;
constexpr std::size_t kFileHeaderSize = 20;
constexpr std::uint32_t kPe32Magic = 0x10B;
constexpr std::uint32_t kPe32PlusMagic = 0x20B;
constexpr std::size_t kChecksumField = 64;   // inside the optional header, either kind
constexpr std::size_t kCertificateDirectory = 4;

struct Bytes {
    const std::uint8_t* data;
    std::size_t size;

    bool Has(std::uint64_t offset, std::uint64_t length) const
    {
        return offset <= size && length <= size - offset;
    }
    std::uint32_t U16(std::size_t offset) const
    {
        return data[offset] | data[offset + 1] << 8;
    }
    std::uint32_t U32(std::size_t offset) const
    {
        return U16(offset) | U16(offset + 2) << 16;
    }
};

std::string SectionName(const Bytes& bytes, std::size_t header)
{
    const char* name = reinterpret_cast<const char*>(bytes.data + header);
    return std::string(name, std::find(name, name + 8, '\0'));
}

}  // namespace

std::optional<SectionSpan> FindPeSection(const std::uint8_t* data, std::size_t size,
                                         const std::string& name)
{
    const Bytes bytes{data, size};
    if (!bytes.Has(0, 0x40) || data[0] != 'M' || data[1] != 'Z')
        return std::nullopt;
    const std::uint64_t pe = bytes.U32(0x3C);
    if (!bytes.Has(pe, 4 + kFileHeaderSize) || bytes.U32(pe) != kPeSignature)
        return std::nullopt;
    const std::uint32_t section_count = bytes.U16(pe + 6);
    const std::uint32_t optional_header_size = bytes.U16(pe + 20);
    std::uint64_t header = pe + 4 + kFileHeaderSize + optional_header_size;
    for (std::uint32_t i = 0; i < section_count; ++i, header += kSectionHeaderSize) {
        if (!bytes.Has(header, kSectionHeaderSize))
            return std::nullopt;
        if (SectionName(bytes, header) != name)
            continue;
        const std::uint64_t raw_size = bytes.U32(header + 16);
        const std::uint64_t raw_offset = bytes.U32(header + 20);
        if (raw_offset >= size)
            return std::nullopt;
        return SectionSpan{static_cast<std::size_t>(raw_offset),
                           static_cast<std::size_t>(std::min<std::uint64_t>(raw_size, size - raw_offset))};
    }
    return std::nullopt;
}

std::optional<PeSignatureFields> FindPeSignatureFields(const std::uint8_t* data, std::size_t size)
{
    const Bytes bytes{data, size};
    if (!bytes.Has(0, 0x40) || data[0] != 'M' || data[1] != 'Z')
        return std::nullopt;
    const std::uint64_t pe = bytes.U32(0x3C);
    if (!bytes.Has(pe, 4 + kFileHeaderSize + 2) || bytes.U32(pe) != kPeSignature)
        return std::nullopt;
    const std::uint64_t optional_header = pe + 4 + kFileHeaderSize;
    const std::uint32_t magic = bytes.U16(optional_header);
    if (magic != kPe32Magic && magic != kPe32PlusMagic)
        return std::nullopt;
    // The data directories follow 96 bytes of fields in PE32, 112 in PE32+.
    const std::uint64_t directories = optional_header + (magic == kPe32Magic ? 96 : 112);
    const std::uint64_t entry = directories + 8 * kCertificateDirectory;
    const std::uint64_t directory_count = bytes.U32(directories - 4);
    if (directory_count <= kCertificateDirectory || !bytes.Has(entry, 8) ||
        entry + 8 > optional_header + bytes.U16(pe + 20))
        return std::nullopt;
    return PeSignatureFields{static_cast<std::size_t>(optional_header + kChecksumField), bytes.U32(entry),
                             bytes.U32(entry + 4), static_cast<std::size_t>(entry)};
}

void PeChecksum::Add(const std::uint8_t* bytes, std::size_t size)
{
    for (std::size_t i = 0; i < size; ++i, ++length_) {
        const bool in_checksum = length_ >= checksum_offset_ && length_ < checksum_offset_ + 4;
        sum_ += static_cast<std::uint64_t>(in_checksum ? 0 : bytes[i]) << (length_ % 2 ? 8 : 0);
    }
}

std::uint32_t PeChecksum::Value() const
{
    std::uint64_t sum = sum_;
    while (sum > 0xFFFF)
        sum = (sum & 0xFFFF) + (sum >> 16);
    return static_cast<std::uint32_t>(sum + length_);
}

}  // namespace stubkit
