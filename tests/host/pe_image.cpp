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

}  // namespace petest
