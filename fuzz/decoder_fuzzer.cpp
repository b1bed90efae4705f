// Fuzz input: a 3-byte little-endian total (so runs stay short), then the
// stream. The decoder must stay inside its tables (the sanitizers watch), end
// (libFuzzer's -timeout watches) and keep its output contract.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "payload/stream_decoder.h"

namespace {

const uint8_t* stream;
size_t stream_size;
size_t next_byte;
uint64_t written;
bool partial_chunk_seen;

int ReadOne(unsigned char* buffer, int count)
{
    if (count != 1)
        std::abort();
    if (next_byte >= stream_size)
        return 0;
    buffer[0] = stream[next_byte++];
    return 1;
}

// Chunks are whole windows, except one last partial chunk.
int WriteChunk(const unsigned char* bytes, int length)
{
    if (bytes == nullptr || length <= 0 || length > DecoderWindowSize || partial_chunk_seen)
        std::abort();
    if (length < DecoderWindowSize)
        partial_chunk_seen = true;
    written += static_cast<uint64_t>(length);
    return length;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 3)
        return 0;
    uint32_t total = data[0] | (data[1] << 8) | (uint32_t{data[2]} << 16);
    stream = data + 3;
    stream_size = size - 3;
    next_byte = 0;
    written = 0;
    partial_chunk_seen = false;
    if (DecodeStream(ReadOne, WriteChunk, total) != 0)
        std::abort();
    // Only the last match may run past the total, by at most 255 bytes.
    if (written > uint64_t{total} + 255)
        std::abort();
    return 0;
}
