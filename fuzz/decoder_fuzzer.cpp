// Fuzz input: a 3-byte little-endian total (so runs stay short), then the
// stream. The decoder must stay inside its tables (the sanitizers watch), end
// (libFuzzer's -timeout watches) and keep its output contract. Both entry
// points decode every input: the buffered one, fed the stream whole and in
// runs of 1 to 13 bytes, must write exactly what the one-byte one writes, in
// the same chunks.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "payload/stream_decoder.h"

namespace {

const uint8_t* stream;
size_t stream_size;
size_t next_byte;
size_t run_number;
bool whole_runs;   // the stream as one run, else runs of 1 to 13 bytes
bool partial_chunk_seen;
std::vector<uint8_t> output;
std::vector<int> chunk_sizes;

int ReadOne(unsigned char* buffer, int count)
{
    if (count != 1)
        std::abort();
    if (next_byte >= stream_size)
        return 0;
    buffer[0] = stream[next_byte++];
    return 1;
}

int FillRun(const unsigned char** bytes)
{
    if (next_byte >= stream_size)
        return 0;
    size_t size = whole_runs ? stream_size : 1 + (run_number++ * 7) % 13;
    if (size > stream_size - next_byte)
        size = stream_size - next_byte;
    *bytes = stream + next_byte;
    next_byte += size;
    return static_cast<int>(size);
}

// Chunks are whole windows, except one last partial chunk.
int WriteChunk(const unsigned char* bytes, int length)
{
    if (bytes == nullptr || length <= 0 || length > DecoderWindowSize || partial_chunk_seen)
        std::abort();
    if (length < DecoderWindowSize)
        partial_chunk_seen = true;
    output.insert(output.end(), bytes, bytes + length);
    chunk_sizes.push_back(length);
    return length;
}

void Restart()
{
    next_byte = 0;
    run_number = 0;
    partial_chunk_seen = false;
    output.clear();
    chunk_sizes.clear();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 3)
        return 0;
    uint32_t total = data[0] | (data[1] << 8) | (uint32_t{data[2]} << 16);
    stream = data + 3;
    stream_size = size - 3;
    Restart();
    if (DecodeStream(ReadOne, WriteChunk, total) != 0)
        std::abort();
    // Only the last match may run past the total, by at most 255 bytes.
    if (output.size() > uint64_t{total} + 255)
        std::abort();
    const std::vector<uint8_t> expected = output;
    const std::vector<int> expected_chunks = chunk_sizes;
    for (bool whole : {true, false}) {
        whole_runs = whole;
        Restart();
        if (DecodeStreamBuffered(FillRun, WriteChunk, total) != 0)
            std::abort();
        if (output != expected || chunk_sizes != expected_chunks)
            std::abort();
    }
    return 0;
}
