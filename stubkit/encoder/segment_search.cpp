#include "stubkit/encoder/segment_search.h"

#include <algorithm>
#include <stdexcept>

namespace stubkit {

void SegmentSearch::Plan(const InputWindow& input, uint64_t start, size_t size)
{
    if (size > kConcurrentSpan)
        throw std::invalid_argument("segment search: segment too long");
    start_ = start;
    size_ = size;
    end_ = input.End();
    group_of_.assign(size, 0);
    match_count_.assign(size, 0);
    for (std::vector<uint32_t>& positions : group_positions_)
        positions.clear();
    for (size_t offset = 0; offset < size; ++offset) {
        if (end_ - (start + offset) < kMinMatch)
            break;
        uint32_t group = BinaryTreeFinder::Bucket(input, start + offset) % kGroups;
        group_of_[offset] = static_cast<uint8_t>(group);
        group_positions_[group].push_back(static_cast<uint32_t>(offset));
    }
}

void SegmentSearch::SearchGroup(BinaryTreeFinder& finder, const InputWindow& input, int group)
{
    const std::vector<uint32_t>& positions = group_positions_[group];
    std::vector<uint32_t>& matches = group_matches_[group];
    const size_t budget = kMatchesPerPosition * positions.size();
    // Room for the budget and one match per position past it: nothing moves.
    matches.clear();
    matches.reserve(budget + positions.size() + kMaxMatch);
    Match found[kMaxMatch + 1];
    for (uint32_t offset : positions) {
        uint64_t position = start_ + offset;
        uint32_t limit = static_cast<uint32_t>(std::min<uint64_t>(kMaxMatch, end_ - position));
        int count = finder.SearchAt(input, position, limit, found);
        int first = matches.size() + count > budget ? std::max(count - 1, 0) : 0;
        for (int i = first; i < count; ++i)
            matches.push_back(PackMatch(found[i].length, found[i].distance));
        match_count_[offset] = static_cast<uint8_t>(count - first);
    }
}

void SegmentSearch::Index()
{
    first_match_.resize(size_);
    uint32_t next[kGroups] = {};
    for (size_t offset = 0; offset < size_; ++offset) {
        uint8_t group = group_of_[offset];
        first_match_[offset] = next[group];
        next[group] += match_count_[offset];
    }
}

}  // namespace stubkit
