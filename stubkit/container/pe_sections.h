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

}  // namespace stubkit

#endif
