// Slice-by-8 form of the payload CRC for the host tool: same register and
// results as UpdateCrc, eight bytes per step.
#ifndef STUBKIT_FAST_CRC32_H
#define STUBKIT_FAST_CRC32_H

#include <cstddef>
#include <cstdint>

namespace stubkit {

// Same contract as UpdateCrc: no final inversion; start from CrcInitial.
uint32_t UpdateCrcFast(uint32_t running_crc, const uint8_t* bytes, size_t length);

}  // namespace stubkit

#endif
