// Just enough of the PE format to find a named section of a stub file. Every
// header field is treated as untrusted: the tool also reads damaged files.
#ifndef STUBKIT_PE_SECTIONS_H
#define STUBKIT_PE_SECTIONS_H

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace stubkit {

struct SectionSpan {
    std::size_t file_offset = 0;
    std::size_t file_size = 0;   // raw data actually present in the file
};

// The raw data of the first section called `name`, cut to the bytes that lie
// inside `size`; nothing when the bytes are not a PE file or have no such
// section.
std::optional<SectionSpan> FindPeSection(const std::uint8_t* bytes, std::size_t size,
                                         const std::string& name);

// Where an Authenticode signature lives: the optional header's checksum, and
// the certificate table named by its data directory entry (a file offset,
// unlike the other entries). The table is not checked against the file size.
struct PeSignatureFields {
    std::size_t checksum_offset = 0;
    std::uint32_t certificate_table_offset = 0;   // 0 and 0: not signed
    std::uint32_t certificate_table_size = 0;
    std::size_t certificate_entry_offset = 0;     // where the two values above stand
};

// Nothing when `bytes` do not start with the PE headers up to that entry.
std::optional<PeSignatureFields> FindPeSignatureFields(const std::uint8_t* bytes, std::size_t size);

// The optional header's checksum, fed the whole file in pieces: 16-bit
// little-endian words added with end-around carry, the checksum field itself
// read as zero, plus the file's length.
class PeChecksum {
public:
    explicit PeChecksum(std::size_t checksum_offset) : checksum_offset_(checksum_offset) {}
    void Add(const std::uint8_t* bytes, std::size_t size);
    std::uint32_t Value() const;

private:
    std::size_t checksum_offset_;
    std::uint64_t sum_ = 0;
    std::uint64_t length_ = 0;
};

}  // namespace stubkit

#endif
