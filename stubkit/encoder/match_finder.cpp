#include "stubkit/encoder/match_finder.h"

#include <algorithm>
#include <cstring>

namespace stubkit {
namespace {

constexpr int kHashBits = 20;

inline uint32_t Hash3(const uint8_t* p, int bits = kHashBits)
{
    uint32_t value = p[0] | (p[1] << 8) | (p[2] << 16);
    return (value * 2654435761u) >> (32 - bits);
}

inline uint32_t Slot(uint64_t position) { return static_cast<uint32_t>(position) & (kWindowSize - 1); }

// The binary trees keep their nodes in a ring longer than the window by the
// span searched concurrently: a thread ahead by less than that span never
// reuses a node that a thread behind it can still reach.
constexpr uint32_t kTreeRing = kWindowSize + kConcurrentSpan;
inline uint32_t TreeSlot(uint64_t position) { return static_cast<uint32_t>(position) % kTreeRing; }

// Links hold position + 1 so that 0 can mean "none"; inputs are limited to
// 4 GiB by the decoder's 32-bit total anyway.
inline uint32_t Link(uint64_t position) { return static_cast<uint32_t>(position) + 1; }

inline uint32_t CommonLength(const uint8_t* a, const uint8_t* b, uint32_t start, uint32_t limit)
{
    uint32_t length = start;
    while (length + 8 <= limit) {
        uint64_t x, y;
        std::memcpy(&x, a + length, 8);
        std::memcpy(&y, b + length, 8);
        if (x != y)
            return length + (__builtin_ctzll(x ^ y) >> 3);
        length += 8;
    }
    while (length < limit && a[length] == b[length])
        ++length;
    return length;
}

}  // namespace

InputWindow::InputWindow(size_t lookahead_capacity)
    : capacity_(kWindowSize + lookahead_capacity)
{
    data_.reserve(capacity_);
}

size_t InputWindow::Append(const uint8_t* bytes, size_t size)
{
    if (data_.size() + size > capacity_ && position_ - base_ > kWindowSize) {
        // Keep one window of history behind the current position.
        size_t drop = static_cast<size_t>(position_ - base_ - kWindowSize);
        data_.erase(data_.begin(), data_.begin() + drop);
        base_ += drop;
    }
    size_t taken = std::min(size, capacity_ - data_.size());
    data_.insert(data_.end(), bytes, bytes + taken);
    return taken;
}

HashChainFinder::HashChainFinder(int max_chain, uint32_t nice_length, int hash_bits, int hash_bytes)
    : head_(size_t{1} << hash_bits, 0), chain_(kWindowSize, 0),
      max_chain_(max_chain), nice_length_(nice_length), hash_bits_(hash_bits),
      hash_bytes_(hash_bytes) {}

uint32_t HashChainFinder::Hash(const uint8_t* p) const
{
    if (hash_bytes_ == 3)
        return Hash3(p, hash_bits_);
    uint32_t value;
    std::memcpy(&value, p, 4);
    return (value * 2654435761u) >> (32 - hash_bits_);
}

uint32_t HashChainFinder::Insert(const InputWindow& input)
{
    uint64_t position = input.Position();
    uint32_t hash = Hash(input.At(position));
    uint32_t previous = head_[hash];
    chain_[Slot(position)] = previous;
    head_[hash] = Link(position);
    return previous;
}

int HashChainFinder::FindAndAdvance(InputWindow& input, uint32_t limit, Match* out)
{
    if (limit < static_cast<uint32_t>(hash_bytes_)) {
        input.Advance(1);
        return 0;
    }
    uint64_t position = input.Position();
    const uint8_t* current = input.At(position);
    uint32_t candidate = Insert(input);
    uint32_t best = hash_bytes_ - 1;
    int found = 0;
    uint32_t nice = std::min(nice_length_, limit);
    for (int chain = max_chain_; candidate != 0 && chain > 0; --chain) {
        uint64_t from = candidate - 1;
        uint64_t distance = position - from;
        if (distance > kMaxDistance || from >= position)
            break;
        const uint8_t* earlier = input.At(from);
        if (earlier[best] == current[best]) {
            uint32_t length = CommonLength(earlier, current, 0, limit);
            if (length > best) {
                best = length;
                out[found++] = {length, static_cast<uint32_t>(distance)};
                if (length >= nice)
                    break;
            }
        }
        candidate = chain_[Slot(from)];
    }
    input.Advance(1);
    return found;
}

void HashChainFinder::SkipAndAdvance(InputWindow& input, uint32_t limit)
{
    if (limit >= static_cast<uint32_t>(hash_bytes_))
        Insert(input);
    input.Advance(1);
}

BinaryTreeFinder::BinaryTreeFinder(int max_depth, uint32_t nice_length)
    : head_(size_t{1} << kHashBits, 0), tree_(2 * size_t{kTreeRing}, 0),
      max_depth_(max_depth), nice_length_(nice_length) {}

// Inserts the current suffix as the root of its bucket's tree, splitting the
// old tree into the parts that sort below and above it; on the way down it
// meets the suffixes that share the longest prefixes with the current one.
uint32_t BinaryTreeFinder::Bucket(const InputWindow& input, uint64_t position)
{
    return Hash3(input.At(position));
}

void BinaryTreeFinder::Prefetch(const InputWindow& input, uint64_t position, uint32_t candidate) const
{
    uint64_t from = candidate - 1;
    if (candidate == 0 || from >= position || position - from > kMaxDistance)
        return;
    __builtin_prefetch(&tree_[2 * TreeSlot(from)]);
    __builtin_prefetch(input.At(from));
}

int BinaryTreeFinder::SearchAt(const InputWindow& input, uint64_t position, uint32_t limit, Match* out)
{
    const uint8_t* current = input.At(position);
    uint32_t hash = Hash3(current);
    uint32_t candidate = head_[hash];
    head_[hash] = Link(position);
    uint32_t* smaller = &tree_[2 * TreeSlot(position)];
    uint32_t* larger = smaller + 1;
    uint32_t smaller_length = 0, larger_length = 0;
    uint32_t best = kMinMatch - 1;
    uint32_t nice = std::min(nice_length_, limit);
    int found = 0;
    for (int depth = max_depth_;; --depth) {
        uint64_t from = candidate - 1;
        if (candidate == 0 || depth == 0 || from >= position || position - from > kMaxDistance) {
            *smaller = 0;
            *larger = 0;
            break;
        }
        uint32_t* pair = &tree_[2 * TreeSlot(from)];
        const uint8_t* earlier = input.At(from);
        // The walk goes on to one of the two children: fetch both while this
        // node's bytes are compared.
        Prefetch(input, position, pair[0]);
        Prefetch(input, position, pair[1]);
        uint32_t length = CommonLength(earlier, current, std::min(smaller_length, larger_length), nice);
        if (length > best && out != nullptr) {
            best = length;
            out[found++] = {length, static_cast<uint32_t>(position - from)};
        }
        if (length >= nice) {
            // Equal up to the limit: the old node's subtrees take its place.
            *smaller = pair[0];
            *larger = pair[1];
            break;
        }
        if (earlier[length] < current[length]) {
            *smaller = candidate;
            smaller = pair + 1;
            candidate = *smaller;
            smaller_length = length;
        } else {
            *larger = candidate;
            larger = pair;
            candidate = *larger;
            larger_length = length;
        }
    }
    // Longer matches than the finder's limit are extended directly.
    if (found > 0 && best >= nice && nice < limit) {
        Match& last = out[found - 1];
        last.length = CommonLength(input.At(position - last.distance), current, best, limit);
    }
    return found;
}

int BinaryTreeFinder::FindAndAdvance(InputWindow& input, uint32_t limit, Match* out)
{
    int found = limit >= kMinMatch ? SearchAt(input, input.Position(), limit, out) : 0;
    input.Advance(1);
    return found;
}

void BinaryTreeFinder::SkipAndAdvance(InputWindow& input, uint32_t limit)
{
    if (limit >= kMinMatch)
        SearchAt(input, input.Position(), limit, nullptr);
    input.Advance(1);
}

}  // namespace stubkit
