#include "stubkit/container/pe_sections.h"

#include <algorithm>

namespace stubkit {
namespace {

constexpr std::uint32_t kPeSignature = 0x00004550;   // "PE\0\0"
constexpr std::size_t kSectionHeaderSize = 40;
constexpr std::size_t kFileHeaderSize = 20;

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

}  // namespace stubkit
