#include "stubkit/encoder/encoder.h"

#include <cstring>

#include "payload/crc32.h"

namespace stubkit {
namespace {

struct SliceTables {
    uint32_t table[8][256];

    SliceTables()
    {
        BuildCrcTable();
        std::memcpy(table[0], crc_table, sizeof table[0]);
        // table[k][i]: the register after byte i followed by k zero bytes.
        for (int k = 1; k < 8; ++k)
            for (int i = 0; i < 256; ++i)
                table[k][i] = (table[k - 1][i] >> 8) ^ table[0][table[k - 1][i] & 0xFF];
    }
};

const SliceTables& Tables()
{
    static const SliceTables tables;
    return tables;
}

}  // namespace

uint32_t UpdateCrcFast(uint32_t crc, const uint8_t* bytes, size_t length)
{
    const auto& t = Tables().table;
    while (length >= 8) {
        uint32_t low, high;
        std::memcpy(&low, bytes, 4);
        std::memcpy(&high, bytes + 4, 4);
        low ^= crc;   // little-endian host: the first byte is the low byte
        crc = t[7][low & 0xFF] ^ t[6][(low >> 8) & 0xFF] ^ t[5][(low >> 16) & 0xFF] ^
              t[4][low >> 24] ^ t[3][high & 0xFF] ^ t[2][(high >> 8) & 0xFF] ^
              t[1][(high >> 16) & 0xFF] ^ t[0][high >> 24];
        bytes += 8;
        length -= 8;
    }
    while (length-- > 0)
        crc = t[0][(crc ^ *bytes++) & 0xFF] ^ (crc >> 8);
    return crc;
}

}  // namespace stubkit
