// Encoder of the payload's compressed stream (host side, used by the packer).
//
// Writes streams that the installer's DecodeStream reads back exactly. Memory
// use depends on the window and the level only, never on the input size
// (about 30-35 MB at the hash-chain levels 1-4, 60 MB at the binary-tree
// levels 5-9).
//
// Levels: 1-2 greedy/lazy parsing over 4-byte hash chains; 3-4 lazy parsing
// over longer 3-byte chains; 5-9 shortest-path parsing over binary trees with
// growing search depth and price iterations. Every level searches the whole 4 MiB window and picks
// block boundaries by coded size.
#ifndef STUBKIT_STREAM_ENCODER_H
#define STUBKIT_STREAM_ENCODER_H

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

namespace stubkit {

constexpr int kFastestLevel = 1;
constexpr int kBestLevel = 9;
constexpr int kDefaultLevel = 9;

class StreamEncoder {
public:
    // Receives the compressed stream piece by piece, in order.
    using Output = std::function<void(const std::uint8_t* bytes, std::size_t size)>;

    // level: kFastestLevel (fast) .. kBestLevel (smallest).
    StreamEncoder(int level, Output output);
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
std::vector<std::uint8_t> EncodeBuffer(const std::uint8_t* bytes, std::size_t size, int level);

}  // namespace stubkit

#endif
