#include "stubkit/encoder/huffman.h"

#include <algorithm>
#include <stdexcept>

namespace stubkit {
namespace {

struct Item {
    uint64_t weight;
    int symbol;   // a leaf's symbol, or -1 for a package of two items below
};

}  // namespace

std::vector<uint8_t> LimitedCodeLengths(const std::vector<uint32_t>& frequencies, int max_length)
{
    std::vector<uint8_t> lengths(frequencies.size(), 0);
    std::vector<Item> leaves;
    for (size_t symbol = 0; symbol < frequencies.size(); ++symbol)
        if (frequencies[symbol] > 0)
            leaves.push_back({frequencies[symbol], static_cast<int>(symbol)});
    if (leaves.empty())
        return lengths;
    if (leaves.size() == 1) {
        lengths[leaves[0].symbol] = 1;
        return lengths;
    }
    if (leaves.size() > (size_t{1} << max_length))
        throw std::invalid_argument("too many symbols for the code length limit");
    std::stable_sort(leaves.begin(), leaves.end(),
                     [](const Item& a, const Item& b) { return a.weight < b.weight; });

    // Package-merge: level l holds the leaves merged with the pairs of level
    // l - 1. Choosing the 2n - 2 lightest items of the top level gives each
    // symbol a length equal to the number of levels it is chosen on.
    std::vector<std::vector<Item>> levels(max_length);
    levels[0] = leaves;
    for (int level = 1; level < max_length; ++level) {
        const std::vector<Item>& below = levels[level - 1];
        std::vector<Item>& merged = levels[level];
        size_t packages = below.size() / 2;
        merged.reserve(leaves.size() + packages);
        size_t leaf = 0, package = 0;
        while (leaf < leaves.size() || package < packages) {
            uint64_t package_weight = package < packages
                ? below[2 * package].weight + below[2 * package + 1].weight : UINT64_MAX;
            if (leaf < leaves.size() && leaves[leaf].weight <= package_weight) {
                merged.push_back(leaves[leaf++]);
            } else {
                merged.push_back({package_weight, -1});
                ++package;
            }
        }
    }
    // The chosen packages of a level are always its first ones, so each level
    // down chooses a prefix twice as long as the packages above it.
    size_t chosen = 2 * leaves.size() - 2;
    for (int level = max_length - 1; level >= 0; --level) {
        size_t packages = 0;
        for (size_t i = 0; i < chosen; ++i) {
            if (levels[level][i].symbol >= 0)
                ++lengths[levels[level][i].symbol];
            else
                ++packages;
        }
        chosen = 2 * packages;
    }
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
