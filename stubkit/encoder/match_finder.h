// Match finders over the stream's 4 MiB window, fed from a sliding buffer.
//
// Positions are absolute offsets in the input. The buffer keeps a full window
// of history behind the current position plus the lookahead, so memory
// depends only on the window and lookahead sizes.
#ifndef STUBKIT_MATCH_FINDER_H
#define STUBKIT_MATCH_FINDER_H

#include <cstddef>
#include <cstdint>
#include <vector>

namespace stubkit {

constexpr uint32_t kWindowSize = 1u << 22;
// The decoder can reach 2^22 back, but the finders index their links by
// position modulo the window, so one less keeps every link unambiguous.
constexpr uint32_t kMaxDistance = kWindowSize - 1;
constexpr int kMinMatch = 3;
// Positions that threads search at the same time lie within this span.
constexpr uint32_t kConcurrentSpan = 1u << 18;
constexpr int kMaxMatch = 256;

struct Match {
    uint32_t length;
    uint32_t distance;
};

// Input bytes with a window of history; positions are absolute.
class InputWindow {
public:
    explicit InputWindow(size_t lookahead_capacity);

    // Copies as much of bytes as fits; returns the number taken.
    size_t Append(const uint8_t* bytes, size_t size);
    uint64_t Position() const { return position_; }
    uint64_t End() const { return base_ + data_.size(); }
    size_t Lookahead() const { return static_cast<size_t>(End() - position_); }
    const uint8_t* At(uint64_t position) const { return data_.data() + (position - base_); }
    void Advance(size_t count) { position_ += count; }

private:
    std::vector<uint8_t> data_;
    size_t capacity_;
    uint64_t base_ = 0;       // absolute position of data_[0]
    uint64_t position_ = 0;   // next byte to encode
};

// Finder interface shared by the parsers: each call handles the current
// position and moves the window on by one.
class MatchFinder {
public:
    virtual ~MatchFinder() = default;
    // Writes matches of strictly increasing length (each the nearest found for
    // its length), at most `limit` bytes long; returns how many.
    virtual int FindAndAdvance(InputWindow& input, uint32_t limit, Match* out) = 0;
    // Records the current position without searching.
    virtual void SkipAndAdvance(InputWindow& input, uint32_t limit) = 0;
};

// Hash chains: fast, for the lower levels.
class HashChainFinder : public MatchFinder {
public:
    // hash_bits: 16 keeps the heads in cache for the fastest levels.
    // hash_bytes 4 chains only 4-byte matches: far fewer false candidates.
    HashChainFinder(int max_chain, uint32_t nice_length, int hash_bits = 20, int hash_bytes = 3);
    int FindAndAdvance(InputWindow& input, uint32_t limit, Match* out) override;
    void SkipAndAdvance(InputWindow& input, uint32_t limit) override;

private:
    uint32_t Insert(const InputWindow& input);
    uint32_t Hash(const uint8_t* bytes) const;
    std::vector<uint32_t> head_;   // position + 1 of the newest entry per hash, 0 for none
    std::vector<uint32_t> chain_;  // position + 1 of the previous entry, by position mod window
    int max_chain_;
    uint32_t nice_length_;
    int hash_bits_;
    int hash_bytes_;
};

// Binary trees of suffixes per hash bucket: finds the longest matches of every
// length with bounded effort, for the upper levels.
//
// A suffix only ever meets the suffixes of its own bucket, so the buckets can
// be searched by several threads at once (SearchAt), each thread taking its
// buckets' positions in increasing order: the trees, and so the matches, come
// out as if one thread had searched every position in turn.
class BinaryTreeFinder : public MatchFinder {
public:
    BinaryTreeFinder(int max_depth, uint32_t nice_length);
    int FindAndAdvance(InputWindow& input, uint32_t limit, Match* out) override;
    void SkipAndAdvance(InputWindow& input, uint32_t limit) override;

    // The bucket of the suffix at `position` (needs kMinMatch bytes there).
    static uint32_t Bucket(const InputWindow& input, uint64_t position);
    // Inserts the suffix at `position` and writes its matches as
    // FindAndAdvance does (out may be null); the window does not move.
    // limit >= kMinMatch.
    int SearchAt(const InputWindow& input, uint64_t position, uint32_t limit, Match* out);

private:
    void Prefetch(const InputWindow& input, uint64_t position, uint32_t candidate) const;
    std::vector<uint32_t> head_;
    std::vector<uint32_t> tree_;   // two children (smaller, larger) per position, in a ring
    int max_depth_;
    uint32_t nice_length_;
};

}  // namespace stubkit

#endif
