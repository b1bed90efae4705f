#include "stubkit/encoder/huffman.h"

#include <algorithm>
#include <stdexcept>

namespace stubkit {
namespace {

// Widest alphabet the fixed work space below serves.
constexpr int kMaxAlphabet = 1024;

// Clears every length and keys each used symbol by its weight, the symbol in
// the low bits, so sorting the keys orders ties by symbol; the count of keys.
int CollectLeaves(const uint32_t* frequencies, int count, uint8_t* lengths, uint64_t* keys)
{
    int n = 0;
    for (int symbol = 0; symbol < count; ++symbol) {
        lengths[symbol] = 0;
        if (frequencies[symbol] > 0)
            keys[n++] = (uint64_t{frequencies[symbol]} << 10) | static_cast<uint64_t>(symbol);
    }
    return n;
}

}  // namespace

void LimitedCodeLengths(const uint32_t* frequencies, int count, uint8_t* lengths, int max_length)
{
    if (count > kMaxAlphabet || max_length > kMaxCodeLength)
        throw std::invalid_argument("alphabet too large for the code length limit");
    // Leaves sorted by weight, ties in symbol order: the symbol rides in the
    // low bits of the key.
    uint64_t keys[kMaxAlphabet];
    const int n = CollectLeaves(frequencies, count, lengths, keys);
    if (n == 0)
        return;
    if (n == 1) {
        lengths[keys[0] & 1023] = 1;
        return;
    }
    if (n > (1 << max_length))
        throw std::invalid_argument("too many symbols for the code length limit");
    std::sort(keys, keys + n);
    // A sentinel past the last leaf; the merge below takes the lighter
    // item without branching, which the unpredictable choice needs.
    uint64_t leaf_weight[kMaxAlphabet + 1];
    for (int i = 0; i < n; ++i)
        leaf_weight[i] = keys[i] >> 10;
    leaf_weight[n] = UINT64_MAX;

    // Package-merge: level l holds the leaves merged with the pairs of level
    // l - 1. Choosing the 2n - 2 lightest items of the top level gives each
    // symbol a length equal to the number of levels it is chosen on. A level
    // keeps its leaves in weight order, so a chosen prefix of it holds the
    // lightest leaves; only which items are leaves needs remembering.
    static_assert(kMaxCodeLength <= 16, "work space sized for 16 levels");
    uint64_t weight[2][2 * kMaxAlphabet + 2];
    uint8_t is_leaf[kMaxCodeLength][2 * kMaxAlphabet];
    int size[kMaxCodeLength];
    std::copy(leaf_weight, leaf_weight + n, weight[0]);
    std::fill(is_leaf[0], is_leaf[0] + n, 1);
    size[0] = n;
    for (int level = 1; level < max_length; ++level) {
        uint64_t* below = weight[(level - 1) & 1];
        uint64_t* merged = weight[level & 1];
        uint8_t* leaf_flags = is_leaf[level];
        const int packages = size[level - 1] / 2;
        // A sentinel package heavier than any leaf but lighter than the
        // leaves' sentinel; the level below is not needed any more.
        below[2 * packages] = UINT64_MAX / 2;
        below[2 * packages + 1] = UINT64_MAX / 2;
        const int total = n + packages;
        int leaf = 0, package = 0;
        for (int out = 0; out < total; ++out) {
            const uint64_t package_weight = below[2 * package] + below[2 * package + 1];
            const uint64_t next_leaf = leaf_weight[leaf];
            const bool take_leaf = next_leaf <= package_weight;
            merged[out] = take_leaf ? next_leaf : package_weight;
            leaf_flags[out] = take_leaf;
            leaf += take_leaf;
            package += !take_leaf;
        }
        size[level] = total;
    }
    // The chosen packages of a level are always its first ones, so each level
    // down chooses a prefix twice as long as the packages above it.
    int chosen_leaves[kMaxCodeLength];
    int chosen = 2 * n - 2;
    for (int level = max_length - 1; level >= 0; --level) {
        int leaves = 0;
        for (int i = 0; i < chosen; ++i)
            leaves += is_leaf[level][i];
        chosen_leaves[level] = leaves;
        chosen = 2 * (chosen - leaves);
    }
    for (int level = 0; level < max_length; ++level)
        for (int i = 0; i < chosen_leaves[level]; ++i)
            ++lengths[keys[i] & 1023];
}

void QuickCodeLengths(const uint32_t* frequencies, int count, uint8_t* lengths, int max_length)
{
    if (count > kMaxAlphabet)
        throw std::invalid_argument("alphabet too large for the code length limit");
    uint64_t keys[kMaxAlphabet];
    const int n = CollectLeaves(frequencies, count, lengths, keys);
    if (n <= 1) {
        if (n == 1)
            lengths[keys[0] & 1023] = 1;
        return;
    }
    std::sort(keys, keys + n);
    // Huffman's merge over the sorted leaves with a second queue of the
    // merged nodes, which come out in weight order: node n + k is the k-th
    // merge, and parent[] links every node to the merge that took it.
    uint64_t merged[kMaxAlphabet];
    int parent[2 * kMaxAlphabet];
    int leaf = 0, next_merged = 0;
    auto take = [&](int k) {
        bool take_leaf = leaf < n && (next_merged >= k || (keys[leaf] >> 10) <= merged[next_merged]);
        int node = take_leaf ? leaf : n + next_merged;
        uint64_t weight = take_leaf ? keys[leaf] >> 10 : merged[next_merged];
        take_leaf ? ++leaf : ++next_merged;
        parent[node] = n + k;
        return weight;
    };
    for (int k = 0; k < n - 1; ++k) {
        uint64_t first = take(k);
        merged[k] = first + take(k);
    }
    // Depths from the root (the last merge) down.
    uint8_t depth[2 * kMaxAlphabet];
    depth[2 * n - 2] = 0;
    bool too_long = false;
    for (int node = 2 * n - 3; node >= 0; --node) {
        depth[node] = static_cast<uint8_t>(std::min(depth[parent[node]] + 1, 255));
        too_long |= node < n && depth[node] > max_length;
    }
    if (too_long) {
        LimitedCodeLengths(frequencies, count, lengths, max_length);
        return;
    }
    for (int i = 0; i < n; ++i)
        lengths[keys[i] & 1023] = depth[i];
}

std::vector<uint8_t> LimitedCodeLengths(const std::vector<uint32_t>& frequencies, int max_length)
{
    std::vector<uint8_t> lengths(frequencies.size(), 0);
    LimitedCodeLengths(frequencies.data(), static_cast<int>(frequencies.size()), lengths.data(), max_length);
    return lengths;
}
std::vector<uint16_t> CanonicalCodes(const std::vector<uint8_t>& lengths)
{
    int count[kMaxCodeLength + 1] = {};
    for (uint8_t length : lengths)
        ++count[length];
    count[0] = 0;
    uint32_t next[kMaxCodeLength + 2] = {};
    uint32_t code = 0;
    for (int length = 1; length <= kMaxCodeLength; ++length) {
        code = (code + count[length - 1]) << 1;
        next[length] = code;
    }
    std::vector<uint16_t> codes(lengths.size(), 0);
    for (size_t symbol = 0; symbol < lengths.size(); ++symbol)
        if (lengths[symbol] != 0)
            codes[symbol] = static_cast<uint16_t>(next[lengths[symbol]]++);
    return codes;
}

}  // namespace stubkit
