#include "stubkit/encoder/segment_search.h"

#include <algorithm>
#include <stdexcept>

namespace stubkit {
namespace {

// A group's share of the match buffer: its budget plus one match for every
// position past it.
size_t GroupShare(size_t positions) { return (SegmentSearch::kMatchesPerPosition + 1) * positions; }

}  // namespace

SegmentSearch::SegmentSearch()
    : group_of_(kConcurrentSpan), match_count_(kConcurrentSpan), first_match_(kConcurrentSpan),
      matches_(new uint32_t[GroupShare(kConcurrentSpan)]) {}

void SegmentSearch::Plan(const InputWindow& input, uint64_t start, size_t size)
{
    if (size > kConcurrentSpan)
        throw std::invalid_argument("segment search: segment too long");
    start_ = start;
    size_ = size;
    end_ = input.End();
    // Positions too near the end for a match belong to no group.
    searched_ = static_cast<size_t>(std::min<uint64_t>(size, end_ - start < kMinMatch ? 0 : end_ - start - kMinMatch + 1));
    size_t counts[kGroups] = {};
    for (size_t offset = 0; offset < searched_; ++offset) {
        uint8_t group = static_cast<uint8_t>(BinaryTreeFinder::Bucket(input, start + offset) % kGroups);
        group_of_[offset] = group;
        ++counts[group];
    }
    std::fill(match_count_.begin(), match_count_.begin() + size, 0);
    std::fill(group_of_.begin() + searched_, group_of_.begin() + size, 0);
    group_positions_[0] = 0;
    for (int group = 0; group < kGroups; ++group)
        group_positions_[group + 1] = group_positions_[group] + counts[group];
}

void SegmentSearch::SearchPart(BinaryTreeFinder& finder, const InputWindow& input, int part, int parts)
{
    uint32_t* share[kGroups];
    size_t stored[kGroups] = {}, budget[kGroups];
    for (int group = 0; group < kGroups; ++group) {
        share[group] = matches_.get() + GroupShare(group_positions_[group]);
        budget[group] = kMatchesPerPosition * (group_positions_[group + 1] - group_positions_[group]);
    }
    Match found[kMaxMatch + 1];
    for (size_t offset = 0; offset < searched_; ++offset) {
        const uint8_t group = group_of_[offset];
        if (group % parts != part)
            continue;
        const uint64_t position = start_ + offset;
        const uint32_t limit = static_cast<uint32_t>(std::min<uint64_t>(kMaxMatch, end_ - position));
        const int count = finder.SearchAt(input, position, limit, found);
        const int keep_from = stored[group] + count > budget[group] ? std::max(count - 1, 0) : 0;
        for (int k = keep_from; k < count; ++k)
            share[group][stored[group]++] = PackMatch(found[k].length, found[k].distance);
        match_count_[offset] = static_cast<uint8_t>(count - keep_from);
    }
}

void SegmentSearch::Index()
{
    size_t next[kGroups];
    for (int group = 0; group < kGroups; ++group)
        next[group] = GroupShare(group_positions_[group]);
    for (size_t offset = 0; offset < size_; ++offset) {
        uint8_t group = group_of_[offset];
        first_match_[offset] = static_cast<uint32_t>(next[group]);
        next[group] += match_count_[offset];
    }
}

}  // namespace stubkit
