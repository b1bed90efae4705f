// The order files are packed in. The stream's window reaches 4 MiB back, so
// files that are alike compress against each other only when they lie close
// together; name order keeps a folder's files together, which suits a family
// of versions, but scatters a catalogue translated into many languages or the
// same module in two folders.
//
// The content order: exact duplicates right behind their first copy, and a
// greedy chain that goes on from each file to the unplaced one most like it
// (a min-hash sketch of its 8-byte shingles; candidates found through bands of
// the sketch), falling back to name order where nothing is alike; and files
// of one name in different folders together; and the files of each
// extension together. Fast trial encodes of these and of name order pick the
// smallest, keeping name order unless another wins by 1%. Everything is
// decided from the bytes and the names alone: the same on every host and for
// any thread count.
#ifndef STUBKIT_PACK_ORDER_H
#define STUBKIT_PACK_ORDER_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "stubkit/pack/source_files.h"

namespace stubkit {

// by_level: content from -5 up; the faster levels keep name order, as the
// content order's sketches and trials cost seconds per hundred megabytes
// whatever the level, several times what -1 takes.
enum class PackOrder { by_level, name, content };
constexpr int kContentOrderLevel = 5;

// "name" or "content", as --order takes it: the problem, empty for those.
std::string PackOrderProblem(const std::string& text);
PackOrder ParsePackOrder(const std::string& text);
bool OrdersByContent(PackOrder order, int level);

// What the content order found, for the summary and the bench.
struct OrderChoice {
    bool content_order = false;         // false: name order was kept
    std::size_t duplicates = 0;         // files placed behind an identical one
    std::uint64_t trial_name = 0;       // trial stream sizes, 0 when no trial ran
    std::uint64_t trial_content = 0;
};

// The permutation of `files` (in name order, empty files first) to pack them
// in: index i of the result names the file packed i-th. Empty files stay in
// front, in their order. Up to `threads` trial encodes run at once.
std::vector<std::size_t> ContentOrder(const std::vector<SourceFile>& files, int threads, OrderChoice& choice);

}  // namespace stubkit

#endif
