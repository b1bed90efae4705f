// What each compression level searches and tries; the levels are fixed
// rows of these, and slow trials (bench/bound_search) use rows of their own.
#ifndef STUBKIT_LEVEL_SETTINGS_H
#define STUBKIT_LEVEL_SETTINGS_H

#include <cstddef>
#include <cstdint>

namespace stubkit {

struct LevelSettings {
    bool binary_tree;
    int search_depth;
    uint32_t nice_length;
    bool lazy;
    int optimal_passes;       // 0: greedy/lazy parse
    int split_effort;
    int hash_bits;
    int hash_bytes;
    // Levels 10-12: the parse of each segment is redone under the code
    // lengths of the blocks it falls into, up to this many times, while the
    // coded size keeps falling; blocks are cut by SplitBlocksExhaustive on a
    // grid of split_step symbols, coarser where more than split_points
    // grid points would be needed (0: no limit), since the time grows with
    // their square.
    int block_passes = 0;
    size_t split_step = 0;
    size_t split_points = 0;
    // Passes in a row without a smaller result before the parse gives up,
    // and the bits a symbol without a code costs on top of log2 of its
    // block's symbol count.
    int pass_patience = 1;
    float unused_extra_bits = 2.0f;
};

// The row of a level, kFastestLevel .. kUltraLevel; throws on others.
LevelSettings SettingsForLevel(int level);

}  // namespace stubkit

#endif
