// CRC-32 of the packed files: the reflected polynomial 0xEDB88320 without the
// final inversion, so a file's `crc_value` is the complement of the usual CRC-32
// (0xFFFFFFFF for an empty file, 0xCADBBE3D for "abc").
#ifndef STUBKIT_CRC32_H
#define STUBKIT_CRC32_H

#include <stdint.h>

enum { CrcInitial = 0xFFFFFFFFu };

extern uint32_t crc_table[256];

// Fills crc_table; must run once before UpdateCrc.
void BuildCrcTable(void);

// Runs `length` bytes through the CRC register and returns the new register.
uint32_t UpdateCrc(uint32_t running_crc, const unsigned char* bytes, uint32_t length);

#endif
