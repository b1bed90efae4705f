#include "stubkit/encoder/segment_search.h"

#include <algorithm>
#include <stdexcept>

namespace stubkit {

void SegmentSearch::Plan(const InputWindow& input, uint64_t start, size_t size, int groups)
{
    if (size > kConcurrentSpan || groups < 1 || groups >= kNoGroup)
        throw std::invalid_argument("segment search: bad segment size or group count");
    start_ = start;
    size_ = size;
    end_ = input.End();
    group_of_.assign(size, kNoGroup);
    match_count_.assign(size, 0);
    group_positions_.resize(groups);
    group_matches_.resize(groups);
    for (int group = 0; group < groups; ++group) {
        group_positions_[group].clear();
        group_positions_[group].reserve(size / groups + size / 8);
        group_matches_[group].clear();
    }
    for (size_t offset = 0; offset < size; ++offset) {
        if (end_ - (start + offset) < kMinMatch)
            break;
        uint32_t group = BinaryTreeFinder::Bucket(input, start + offset) % groups;
        group_of_[offset] = static_cast<uint8_t>(group);
        group_positions_[group].push_back(static_cast<uint32_t>(offset));
    }
}

void SegmentSearch::SearchGroup(BinaryTreeFinder& finder, const InputWindow& input, int group)
{
    Match found[kMaxMatch + 1];
    std::vector<Match>& matches = group_matches_[group];
    for (uint32_t offset : group_positions_[group]) {
        uint64_t position = start_ + offset;
        uint32_t limit = static_cast<uint32_t>(std::min<uint64_t>(kMaxMatch, end_ - position));
        int count = finder.SearchAt(input, position, limit, found);
        match_count_[offset] = static_cast<uint8_t>(count);
        matches.insert(matches.end(), found, found + count);
    }
}

SegmentSearch::Reader::Reader(const SegmentSearch& search)
    : search_(search), cursor_(search.group_positions_.size(), 0) {}

const Match* SegmentSearch::Reader::Next(int* count)
{
    size_t offset = offset_++;
    *count = search_.match_count_[offset];
    if (*count == 0)
        return nullptr;
    uint8_t group = search_.group_of_[offset];
    const Match* matches = search_.group_matches_[group].data() + cursor_[group];
    cursor_[group] += *count;
    return matches;
}

}  // namespace stubkit
