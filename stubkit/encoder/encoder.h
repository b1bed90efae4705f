// stubkit/encoder: the compressing half of the payload codec (the decoding
// half is payload/stream_decoder): match finders, Huffman code lengths, the
// block coder, the stream encoder and a fast form of the payload CRC.
// It may use payload/crc32 and the standard library, nothing else of the
// tool. The packer and `encode` need only this header; the others in the
// folder are the encoder's own (and its tests').
//
// Encoder of the payload's compressed stream (host side, used by the packer).
//
// Writes streams that the installer's DecodeStream reads back exactly. Memory
// use depends on the window and the level only, never on the input or the
// thread count (about 30 MB at the hash-chain levels 1-4, 85 MB at the
// binary-tree levels 5-12). At levels 5-12 threads search the matches of one
// segment while the one before it is parsed; the stream is the same for any
// number of them.
//
// Levels: 1-2 greedy/lazy parsing over 4-byte hash chains; 3-4 lazy parsing
// over longer 3-byte chains; 5-9 shortest-path parsing over binary trees with
// growing search depth and price iterations; 10-12 parse each segment again
// under the code lengths of the blocks it falls into until the blocks stop
// shrinking, and cut blocks by dynamic programming over ever finer grids.
// Every level searches the whole 4 MiB window and picks block boundaries by
// coded size.
#ifndef STUBKIT_ENCODER_H
#define STUBKIT_ENCODER_H

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

namespace stubkit {

struct LevelSettings;

constexpr int kFastestLevel = 1;
constexpr int kBestLevel = 9;
constexpr int kDefaultLevel = 9;
// Levels past kBestLevel, up to kUltraLevel, spend several times its time for
// a few percent less; kBestLevel stays the default.
constexpr int kUltraLevel = 12;
constexpr int kMaxThreads = 64;

class StreamEncoder {
public:
    // Receives the compressed stream piece by piece, in order.
    using Output = std::function<void(const std::uint8_t* bytes, std::size_t size)>;

    // level: kFastestLevel (fast) .. kUltraLevel (smallest). threads (1 ..
    // kMaxThreads) search matches at the levels that parse optimally (5-12);
    // the stream is the same for every thread count.
    StreamEncoder(int level, Output output, int threads = 1);
    // A row of settings of its own instead of a level's (level_settings.h).
    StreamEncoder(const LevelSettings& settings, Output output, int threads = 1);
    ~StreamEncoder();
    StreamEncoder(const StreamEncoder&) = delete;
    StreamEncoder& operator=(const StreamEncoder&) = delete;

    // Appends input; may be called any number of times with any sizes.
    void Write(const std::uint8_t* bytes, std::size_t size);
    // Encodes what is buffered and flushes the last partial byte. The stream
    // decodes with DecodeStream(..., total = every byte written).
    void Finish();

private:
    struct State;
    std::unique_ptr<State> state_;
};

// Convenience for tests and small inputs.
std::vector<std::uint8_t> EncodeBuffer(const std::uint8_t* bytes, std::size_t size, int level,
                                       int threads = 1);

}  // namespace stubkit

#endif
