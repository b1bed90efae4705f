// Code lengths for the stream's canonical Huffman codes.
#ifndef STUBKIT_HUFFMAN_H
#define STUBKIT_HUFFMAN_H

#include <cstdint>
#include <vector>

namespace stubkit {

constexpr int kMaxCodeLength = 16;

// Optimal code lengths of at most max_length bits for the given frequencies
// (package-merge). Symbols of frequency 0 get length 0. With two or more used
// symbols the lengths form a complete prefix code; a single used symbol gets
// length 1 (callers write such an alphabet in the single-symbol form).
std::vector<uint8_t> LimitedCodeLengths(const std::vector<uint32_t>& frequencies,
                                        int max_length = kMaxCodeLength);
// The same into lengths[0, count), without allocating: the block splitter
// plans thousands of candidate blocks. count is at most 1024.
void LimitedCodeLengths(const uint32_t* frequencies, int count, uint8_t* lengths,
                        int max_length = kMaxCodeLength);

// Lengths of an optimal code for the same total as LimitedCodeLengths gives
// (its choice among equally good codes may differ), several times faster
// when no code needs more than max_length bits. For pricing candidate blocks.
void QuickCodeLengths(const uint32_t* frequencies, int count, uint8_t* lengths,
                      int max_length = kMaxCodeLength);

// Canonical codes for the lengths: shorter codes first, symbol order within a
// length. Values are right-aligned, written most significant bit first.
std::vector<uint16_t> CanonicalCodes(const std::vector<uint8_t>& lengths);

}  // namespace stubkit

#endif
