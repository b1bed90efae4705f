// Matches of every position of one segment from the binary-tree finder,
// searched by several threads at once.
//
// The segment's positions are dealt out by bucket into groups; each group is
// searched on its own (any thread, one group per call), and the matches are
// then read back in position order. Since a suffix only meets suffixes of its
// own bucket, the result does not depend on the number of groups or threads.
#ifndef STUBKIT_SEGMENT_SEARCH_H
#define STUBKIT_SEGMENT_SEARCH_H

#include <cstddef>
#include <cstdint>
#include <vector>

#include "stubkit/encoder/match_finder.h"

namespace stubkit {

class SegmentSearch {
public:
    // Deals out the positions of [start, start + size) into `groups` groups;
    // matches are limited to the input known now (input.End()). size is at
    // most kConcurrentSpan, groups at most 255.
    void Plan(const InputWindow& input, uint64_t start, size_t size, int groups);
    int Groups() const { return static_cast<int>(group_positions_.size()); }
    // Searches one group's positions in order; calls for different groups
    // may run at the same time while the input stays unchanged.
    void SearchGroup(BinaryTreeFinder& finder, const InputWindow& input, int group);

    uint64_t Start() const { return start_; }
    size_t Size() const { return size_; }

    // Reads the matches back in position order, after every group is done.
    class Reader {
    public:
        explicit Reader(const SegmentSearch& search);
        // The matches at the next position (increasing lengths); count may be 0.
        const Match* Next(int* count);

    private:
        const SegmentSearch& search_;
        std::vector<size_t> cursor_;
        size_t offset_ = 0;
    };

private:
    static constexpr uint8_t kNoGroup = 255;   // too near the end for a match

    uint64_t start_ = 0;
    size_t size_ = 0;
    uint64_t end_ = 0;
    std::vector<uint8_t> group_of_;                      // per position
    std::vector<uint8_t> match_count_;                   // per position
    std::vector<std::vector<uint32_t>> group_positions_; // offsets, increasing
    std::vector<std::vector<Match>> group_matches_;      // in position order
};

}  // namespace stubkit

#endif
