#include "stubkit/crc/fast_crc32.h"

#include "payload/crc32.h"

namespace stubkit {

uint32_t UpdateCrcFast(uint32_t crc, const uint8_t* bytes, size_t length)
{
    // The portable routine already takes eight bytes per step; it only needs
    // its tables, and lengths that fit its 32-bit count.
    static const bool tables_built = (BuildCrcTable(), true);
    (void)tables_built;
    constexpr size_t kLargestPiece = size_t{1} << 30;
    while (length > 0) {
        const size_t piece = length < kLargestPiece ? length : kLargestPiece;
        crc = UpdateCrc(crc, bytes, static_cast<uint32_t>(piece));
        bytes += piece;
        length -= piece;
    }
    return crc;
}

}  // namespace stubkit
