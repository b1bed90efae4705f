// pack_image INPUT OUTPUT: writes INPUT's length (u32, little-endian) and then
// INPUT compressed at the smallest level, and refuses to write anything that
// does not decode back to INPUT byte for byte.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <vector>

#include "payload/stream_decoder.h"
#include "stubkit/encoder/encoder.h"

namespace {

const std::vector<std::uint8_t>* packed_stream;
std::size_t packed_position;
std::vector<std::uint8_t> decoded;

int FillFromPacked(const unsigned char** bytes)
{
    if (packed_position >= packed_stream->size())
        return 0;
    *bytes = packed_stream->data() + packed_position;
    const int run = static_cast<int>(packed_stream->size() - packed_position);
    packed_position = packed_stream->size();
    return run;
}

int CollectDecoded(const unsigned char* bytes, int length)
{
    decoded.insert(decoded.end(), bytes, bytes + length);
    return length;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: pack_image INPUT OUTPUT\n");
        return 2;
    }
    std::ifstream in(argv[1], std::ios::binary);
    const std::vector<std::uint8_t> image((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (!in || image.empty()) {
        std::fprintf(stderr, "pack_image: cannot read '%s'\n", argv[1]);
        return 1;
    }
    const std::vector<std::uint8_t> stream = stubkit::EncodeBuffer(image.data(), image.size(), stubkit::kUltraLevel);
    packed_stream = &stream;
    DecodeStreamBuffered(FillFromPacked, CollectDecoded, static_cast<std::uint32_t>(image.size()));
    // A last match may run past the end; the installer writes only the length.
    if (decoded.size() < image.size() || !std::equal(image.begin(), image.end(), decoded.begin())) {
        std::fprintf(stderr, "pack_image: '%s' does not decode back to itself\n", argv[1]);
        return 1;
    }
    const std::uint32_t size = static_cast<std::uint32_t>(image.size());
    const unsigned char length[4] = {static_cast<unsigned char>(size), static_cast<unsigned char>(size >> 8),
                                     static_cast<unsigned char>(size >> 16), static_cast<unsigned char>(size >> 24)};
    std::ofstream out(argv[2], std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(length), sizeof length);
    out.write(reinterpret_cast<const char*>(stream.data()), static_cast<std::streamsize>(stream.size()));
    if (!out.flush()) {
        std::fprintf(stderr, "pack_image: cannot write '%s'\n", argv[2]);
        return 1;
    }
    return 0;
}
