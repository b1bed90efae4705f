// Runs DecodeStream over a byte vector and records what it fetched and wrote.
#ifndef STUBKIT_TESTS_CODEC_DECODE_HARNESS_H
#define STUBKIT_TESTS_CODEC_DECODE_HARNESS_H

#include <cstddef>
#include <cstdint>
#include <vector>

namespace codec_test {

struct Decoded {
    std::vector<uint8_t> output;
    std::vector<size_t> chunk_sizes;
    size_t fetches = 0;   // read calls, including those past the stream's end
};

Decoded Decode(const std::vector<uint8_t>& stream, uint32_t total);

}  // namespace codec_test

#endif
