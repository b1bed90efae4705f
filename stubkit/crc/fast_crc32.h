// The payload CRC as the host tool computes it, for the packer that records
// it and the payload run that checks it.
#ifndef STUBKIT_CRC_FAST_CRC32_H
#define STUBKIT_CRC_FAST_CRC32_H

#include <cstddef>
#include <cstdint>

namespace stubkit {

// UpdateCrc with its tables built on first use and any length. Same contract
// as UpdateCrc: no final inversion; start from CrcInitial.
std::uint32_t UpdateCrcFast(std::uint32_t running_crc, const std::uint8_t* bytes, std::size_t length);

}  // namespace stubkit

#endif
