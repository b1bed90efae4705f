// Matches of every position of one segment from the binary-tree finder,
// searched by several threads at once.
//
// The segment's positions are dealt out by bucket into a fixed number of
// groups; each group is searched on its own, in position order (any thread,
// some of the groups per call), and the matches are then read by position. Since a suffix only meets
// suffixes of its own bucket, and each group keeps to its own budget, the
// result does not depend on how many threads share the groups.
#ifndef STUBKIT_SEGMENT_SEARCH_H
#define STUBKIT_SEGMENT_SEARCH_H

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "stubkit/encoder/match_finder.h"

namespace stubkit {

// A match in four bytes: the length in the low 9 bits, the distance above.
inline uint32_t PackMatch(uint32_t length, uint32_t distance) { return distance << 9 | length; }
inline uint32_t PackedLength(uint32_t packed) { return packed & 511; }
inline uint32_t PackedDistance(uint32_t packed) { return packed >> 9; }

class SegmentSearch {
public:
    static constexpr int kGroups = 16;
    // Matches a group keeps per position on average: more than real data
    // needs (executables and text need 5, random text of two letters 10).
    // Past that share a group keeps only the longest match of each position,
    // so every group fits its fixed share of one buffer whatever the input.
    static constexpr size_t kMatchesPerPosition = 12;

    SegmentSearch();

    // Deals out the positions of [start, start + size) into the groups;
    // matches are limited to the input known now (input.End()). size is at
    // most kConcurrentSpan.
    void Plan(const InputWindow& input, uint64_t start, size_t size);
    // Searches the positions of the groups g with g % parts == part, in
    // position order; calls for different parts may run at the same time
    // while the input stays unchanged. One part for all keeps to the order
    // of the input, which the caches like best.
    void SearchPart(BinaryTreeFinder& finder, const InputWindow& input, int part, int parts);
    // After every group is done: indexes the matches by position.
    void Index();

    uint64_t Start() const { return start_; }
    size_t Size() const { return size_; }
    // The packed matches at offset (increasing lengths), after Index; the
    // caller may rewrite them in place and shorten the count.
    uint32_t* MatchesAt(size_t offset, int* count)
    {
        *count = match_count_[offset];
        return matches_.get() + first_match_[offset];
    }
    void SetCount(size_t offset, int count) { match_count_[offset] = static_cast<uint8_t>(count); }

private:
    uint64_t start_ = 0;
    size_t size_ = 0;
    uint64_t end_ = 0;
    std::vector<uint8_t> group_of_;       // per position
    std::vector<uint8_t> match_count_;    // per position
    std::vector<uint32_t> first_match_;   // per position, in matches_
    size_t searched_ = 0;                 // positions far enough from the end to search
    size_t group_positions_[kGroups + 1] = {};   // positions before each group's, counted by group
    // Packed matches, each group in its own share in position order; left
    // uninitialised so that only what is written takes memory.
    std::unique_ptr<uint32_t[]> matches_;
};

}  // namespace stubkit

#endif
