#include "pe_image.h"

#include <fstream>
#include <iterator>
#include <stdexcept>

namespace petest {
namespace {

std::uint32_t U32(const Image& image, std::size_t offset)
{
    if (offset + 4 > image.bytes.size())
        throw std::runtime_error("PE read past the end of the file");
    const auto* p = &image.bytes[offset];
    return p[0] | p[1] << 8 | p[2] << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

std::uint16_t U16(const Image& image, std::size_t offset)
{
    if (offset + 2 > image.bytes.size())
        throw std::runtime_error("PE read past the end of the file");
    return static_cast<std::uint16_t>(image.bytes[offset] | image.bytes[offset + 1] << 8);
}

std::size_t FileOffsetOf(const Image& image, std::uint32_t rva)
{
    for (const Section& section : image.sections)
        if (rva >= section.virtual_address &&
            rva < section.virtual_address + std::max(section.virtual_size, section.file_size))
            return section.file_offset + (rva - section.virtual_address);
    throw std::runtime_error("RVA outside every section");
}

std::string CString(const Image& image, std::size_t offset)
{
    std::string text;
    while (offset < image.bytes.size() && image.bytes[offset] != 0)
        text += static_cast<char>(image.bytes[offset++]);
    return text;
}

// Offset, inside the resource section, of the entry with numeric `id` of the
// directory at `directory` (also an offset inside the section), or 0.
std::uint32_t ResourceEntryTarget(const Image& image, std::size_t section, std::uint32_t directory,
                                  std::uint16_t id)
{
    const std::uint16_t named = U16(image, section + directory + 12);
    const std::uint16_t numbered = U16(image, section + directory + 14);
    std::size_t entry = section + directory + 16 + 8u * named;
    for (std::uint16_t i = 0; i < numbered; ++i, entry += 8)
        if (U32(image, entry) == id)
            return U32(image, entry + 4);
    return 0;
}

// The first entry of a directory: resources are looked up by any language.
std::uint32_t FirstEntryTarget(const Image& image, std::size_t section, std::uint32_t directory)
{
    const std::uint16_t count = U16(image, section + directory + 12) + U16(image, section + directory + 14);
    return count == 0 ? 0 : U32(image, section + directory + 16 + 4);
}

}  // namespace

Image Load(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw std::runtime_error("cannot open " + path);
    Image image;
    image.bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    if (image.bytes.size() < 0x40 || image.bytes[0] != 'M' || image.bytes[1] != 'Z')
        throw std::runtime_error(path + " is not an MZ file");
    const std::uint32_t pe = U32(image, 0x3C);
    if (U32(image, pe) != 0x00004550)
        throw std::runtime_error(path + " has no PE signature");
    image.machine = U16(image, pe + 4);
    const std::uint16_t sectionCount = U16(image, pe + 6);
    const std::uint16_t optionalSize = U16(image, pe + 20);
    const std::size_t optional = pe + 24;
    image.characteristics = U16(image, pe + 22);
    image.subsystem = U16(image, optional + 68);
    image.dll_characteristics = U16(image, optional + 70);
    // Data directory 5 (base relocations) of a PE32 optional header.
    image.relocations_size = U32(image, optional + 96 + 5 * 8 + 4);
    std::size_t header = optional + optionalSize;
    for (std::uint16_t i = 0; i < sectionCount; ++i, header += 40) {
        Section section;
        for (int c = 0; c < 8 && image.bytes.at(header + c) != 0; ++c)
            section.name += static_cast<char>(image.bytes[header + c]);
        section.virtual_size = U32(image, header + 8);
        section.virtual_address = U32(image, header + 12);
        section.file_size = U32(image, header + 16);
        section.file_offset = U32(image, header + 20);
        image.sections.push_back(section);
    }
    return image;
}

std::vector<std::string> ImportedDlls(const Image& image)
{
    const std::uint32_t pe = U32(image, 0x3C);
    const std::size_t optional = pe + 24;
    // Data directory 1 (imports) of a PE32 optional header.
    const std::uint32_t importRva = U32(image, optional + 96 + 8);
    std::vector<std::string> names;
    if (importRva == 0)
        return names;
    for (std::size_t entry = FileOffsetOf(image, importRva);; entry += 20) {
        const std::uint32_t nameRva = U32(image, entry + 12);
        if (nameRva == 0)
            break;
        names.push_back(CString(image, FileOffsetOf(image, nameRva)));
    }
    return names;
}

std::optional<Section> FindSection(const Image& image, const std::string& name)
{
    for (const Section& section : image.sections)
        if (section.name == name)
            return section;
    return std::nullopt;
}

std::optional<std::vector<std::uint8_t>> FindResource(const Image& image, std::uint16_t type,
                                                      std::uint16_t id)
{
    constexpr std::uint32_t kSubdirectory = 0x80000000u;
    const std::uint32_t pe = U32(image, 0x3C);
    // Data directory 2 (resources) of a PE32 optional header.
    const std::uint32_t resourceRva = U32(image, pe + 24 + 96 + 2 * 8);
    if (resourceRva == 0)
        return std::nullopt;
    const std::size_t section = FileOffsetOf(image, resourceRva);
    // The root directory lists types, each type's directory ids, each id's languages.
    const std::uint32_t ids = ResourceEntryTarget(image, section, 0, type);
    if (!(ids & kSubdirectory))
        return std::nullopt;
    const std::uint32_t languages = ResourceEntryTarget(image, section, ids & ~kSubdirectory, id);
    if (!(languages & kSubdirectory))
        return std::nullopt;
    const std::uint32_t data = FirstEntryTarget(image, section, languages & ~kSubdirectory);
    if (data == 0 || (data & kSubdirectory))
        throw std::runtime_error("resource directory without a data entry");
    const std::uint32_t dataRva = U32(image, section + data);
    const std::uint32_t size = U32(image, section + data + 4);
    const std::size_t offset = FileOffsetOf(image, dataRva);
    if (offset + size > image.bytes.size())
        throw std::runtime_error("resource data past the end of the file");
    return std::vector<std::uint8_t>(image.bytes.begin() + offset, image.bytes.begin() + offset + size);
}

}  // namespace petest
