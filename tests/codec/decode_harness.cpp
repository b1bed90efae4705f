#include "tests/codec/decode_harness.h"

#include "payload/stream_decoder.h"

namespace codec_test {
namespace {

const std::vector<uint8_t>* input;
Decoded* result;

int ReadOne(unsigned char* buffer, int count)
{
    if (count != 1)
        return 0;
    size_t index = result->fetches++;
    if (index >= input->size())
        return 0;
    buffer[0] = (*input)[index];
    return 1;
}

int WriteChunk(const unsigned char* bytes, int length)
{
    result->chunk_sizes.push_back(static_cast<size_t>(length));
    result->output.insert(result->output.end(), bytes, bytes + length);
    return length;
}

}  // namespace

Decoded Decode(const std::vector<uint8_t>& stream, uint32_t total)
{
    Decoded decoded;
    input = &stream;
    result = &decoded;
    DecodeStream(ReadOne, WriteChunk, total);
    return decoded;
}

}  // namespace codec_test
