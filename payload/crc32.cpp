#include "payload/crc32.h"

uint32_t crc_table[256];

void BuildCrcTable(void)
{
    // Reflected CRC-32: the register shifts right, so the polynomial is the
    // bit-reversed 0x04C11DB7.
    for (uint32_t i = 0; i < 256; ++i) {
        uint32_t value = i;
        for (int round = 0; round < 8; ++round)
            value = (value & 1) ? (value >> 1) ^ 0xEDB88320u : value >> 1;
        crc_table[i] = value;
    }
}

uint32_t UpdateCrc(uint32_t running_crc, const unsigned char* bytes, uint32_t length)
{
    for (uint32_t i = 0; i < length; ++i)
        running_crc = crc_table[(running_crc ^ bytes[i]) & 0xFF] ^ (running_crc >> 8);
    return running_crc;
}
