#include "stubkit/container/stub_identity.h"

#include "stubkit/container/pe_sections.h"

namespace stubkit {
namespace {

struct Span {
    std::size_t start;
    std::size_t size;
    bool Holds(std::size_t offset) const { return offset >= start && offset - start < size; }
};

}  // namespace

std::string StubDifference(const InstallerImage& image, const std::uint8_t* stub, std::size_t size)
{
    if (image.stub.size() != size)
        return "its stub is " + std::to_string(image.stub.size()) + " bytes, the known one " + std::to_string(size);
    const std::optional<PeSignatureFields> fields = FindPeSignatureFields(stub, size);
    const Span skipped[] = {{image.record_offset, InstallerConfigSize},
                            {fields ? fields->checksum_offset : 0, fields ? 4u : 0u},
                            {fields ? fields->certificate_entry_offset : 0, fields ? 8u : 0u}};
    for (std::size_t at = 0; at < size; ++at) {
        if (image.stub[at] == stub[at])
            continue;
        bool inside = false;
        for (const Span& span : skipped)
            inside = inside || span.Holds(at);
        if (!inside)
            return "its stub differs from the known one at byte " + std::to_string(at);
    }
    return std::string();
}

}  // namespace stubkit
