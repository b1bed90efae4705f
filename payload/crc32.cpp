#include "payload/crc32.h"

#include <string.h>

uint32_t crc_table[256];

// crc_slices[256 * k + i]: the register after byte i followed by k + 1 zero
// bytes. With them eight bytes cost eight independent lookups instead of a
// chain of eight dependent ones. Built at run time, so they cost no file
// bytes.
static uint32_t crc_slices[7 * 256];

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
    // One more zero byte through the register each 256 entries.
    for (int i = 0; i < 7 * 256; ++i) {
        uint32_t previous = i < 256 ? crc_table[i] : crc_slices[i - 256];
        crc_slices[i] = (previous >> 8) ^ crc_table[previous & 0xFF];
    }
}

// Both targets are little-endian: the first byte of a word is its low byte.
uint32_t UpdateCrc(uint32_t running_crc, const unsigned char* bytes, uint32_t length)
{
    for (; length >= 8; length -= 8, bytes += 8) {
        uint32_t low, high;
        memcpy(&low, bytes, 4);
        memcpy(&high, bytes + 4, 4);
        low ^= running_crc;
        running_crc = crc_slices[6 * 256 + (low & 0xFF)] ^ crc_slices[5 * 256 + ((low >> 8) & 0xFF)] ^
                      crc_slices[4 * 256 + ((low >> 16) & 0xFF)] ^ crc_slices[3 * 256 + (low >> 24)] ^
                      crc_slices[2 * 256 + (high & 0xFF)] ^ crc_slices[256 + ((high >> 8) & 0xFF)] ^
                      crc_slices[(high >> 16) & 0xFF] ^ crc_table[high >> 24];
    }
    for (; length > 0; --length)
        running_crc = crc_table[(running_crc ^ *bytes++) & 0xFF] ^ (running_crc >> 8);
    return running_crc;
}
