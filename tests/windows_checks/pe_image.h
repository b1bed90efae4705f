// A minimal reader of 32-bit PE files for tests that inspect the built
// Windows programs: section headers, header flags, the names of imported DLLs
// and resources.
#ifndef STUBKIT_TESTS_PE_IMAGE_H
#define STUBKIT_TESTS_PE_IMAGE_H

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace petest {

struct Section {
    std::string name;
    std::uint32_t virtual_address = 0;
    std::uint32_t virtual_size = 0;
    std::uint32_t file_offset = 0;
    std::uint32_t file_size = 0;
};

struct Image {
    std::vector<std::uint8_t> bytes;
    std::uint16_t machine = 0;
    std::uint16_t subsystem = 0;
    std::uint16_t characteristics = 0;       // of the file header
    std::uint16_t dll_characteristics = 0;   // of the optional header
    std::uint32_t relocations_size = 0;      // size of the base relocation directory
    std::vector<Section> sections;
};

// Reads and parses the file; throws std::runtime_error on anything malformed.
Image Load(const std::string& path);

// Imported DLL names as the import table spells them.
std::vector<std::string> ImportedDlls(const Image& image);

std::optional<Section> FindSection(const Image& image, const std::string& name);

// The data of the resource with numeric `type` and `id` (its first language),
// or nothing when the image has no such resource.
std::optional<std::vector<std::uint8_t>> FindResource(const Image& image, std::uint16_t type,
                                                      std::uint16_t id);

}  // namespace petest

#endif
