// How small the stream format lets a sample get: a slow reference search, far
// beyond what a level may spend. Each row searches deeper binary trees, keeps
// redoing every segment's parse under the code lengths of its blocks until
// the blocks stop shrinking, and cuts blocks by dynamic programming over a
// fine grid; the smallest stream of all rows is the bound. Every stream is
// decoded and compared with the sample before it counts.
//   usage: bound_search [level=N | row=DEPTH,PASSES,GRID[,UNUSED_BITS]]... SAMPLE...
// Without level= or row= arguments it measures levels 9 and 12 and the
// reference rows (4 MB samples take minutes per row); with them, only those,
// which is how a level's row is tried out.
#include <chrono>
#include <ctime>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "payload/stream_decoder.h"
#include "stubkit/encoder/encoder.h"
#include "stubkit/encoder/level_settings.h"

namespace {

using Bytes = std::vector<uint8_t>;

struct Row {
    const char* name;
    stubkit::LevelSettings settings;
};

// Parses go on while one of four passes in a row still finds a smaller
// result; the grid has no limit on its points.
stubkit::LevelSettings Reference(int depth, int block_passes, size_t split_step, float unused_extra_bits = 2.0f)
{
    stubkit::LevelSettings settings = stubkit::SettingsForLevel(stubkit::kUltraLevel);
    settings.search_depth = depth;
    settings.block_passes = block_passes;
    settings.split_step = split_step;
    settings.split_points = 0;
    settings.pass_patience = 4;
    settings.unused_extra_bits = unused_extra_bits;
    return settings;
}

const Row kRows[] = {
    {"depth 2048, grid 256", Reference(2048, 64, 256)},
    {"depth 2048, grid 256, +0", Reference(2048, 64, 256, 0.0f)},
    {"depth 2048, grid 256, +4", Reference(2048, 64, 256, 4.0f)},
    {"depth 8192, grid 128", Reference(8192, 64, 128)},
};

const Bytes* decode_input;
size_t decode_next;
Bytes decoded;

bool DecodesTo(const Bytes& stream, const Bytes& sample)
{
    decode_input = &stream;
    decode_next = 0;
    decoded.clear();
    DecodeStream(
        [](unsigned char* byte, int) {
            if (decode_next >= decode_input->size())
                return 0;
            *byte = (*decode_input)[decode_next++];
            return 1;
        },
        [](const unsigned char* bytes, int length) {
            decoded.insert(decoded.end(), bytes, bytes + length);
            return length;
        },
        static_cast<uint32_t>(sample.size()));
    return decoded == sample;
}

// Encodes with the row or level; prints and returns the size, 0 if the
// stream does not decode to the sample.
size_t Measure(const Bytes& sample, const char* name, const stubkit::LevelSettings& settings)
{
    auto start = std::chrono::steady_clock::now();
    std::clock_t cpu_start = std::clock();
    Bytes stream;
    stubkit::StreamEncoder encoder(settings, [&](const uint8_t* bytes, size_t size) {
        stream.insert(stream.end(), bytes, bytes + size);
    }, 1);
    encoder.Write(sample.data(), sample.size());
    encoder.Finish();
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    double cpu_seconds = static_cast<double>(std::clock() - cpu_start) / CLOCKS_PER_SEC;
    bool sound = DecodesTo(stream, sample);
    std::printf("  %-28s %10zu bytes  %.4f  %7.1f s (%.1f s CPU)%s\n", name, stream.size(),
                static_cast<double>(stream.size()) / static_cast<double>(sample.size()), seconds, cpu_seconds,
                sound ? "" : "  DOES NOT DECODE");
    std::fflush(stdout);
    return sound ? stream.size() : 0;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: bound_search SAMPLE...\n");
        return 2;
    }
    std::vector<Row> rows;
    std::vector<int> levels;
    std::vector<std::string> names;
    int first_sample = 1;
    for (; first_sample < argc; ++first_sample) {
        int level = 0, depth = 0, passes = 0;
        size_t grid = 0;
        float unused_extra_bits = 2.0f;
        if (std::sscanf(argv[first_sample], "level=%d", &level) == 1) {
            levels.push_back(level);
        } else if (std::sscanf(argv[first_sample], "row=%d,%d,%zu,%f", &depth, &passes, &grid, &unused_extra_bits) >= 3) {
            names.push_back(argv[first_sample]);
            rows.push_back({nullptr, Reference(depth, passes, grid, unused_extra_bits)});
        } else {
            break;
        }
    }
    for (size_t k = 0; k < rows.size(); ++k)
        rows[k].name = names[k].c_str();
    if (rows.empty() && levels.empty()) {
        levels = {stubkit::kBestLevel, stubkit::kUltraLevel};
        rows.assign(std::begin(kRows), std::end(kRows));
    }
    int status = 0;
    for (int i = first_sample; i < argc; ++i) {
        std::ifstream file(argv[i], std::ios::binary);
        Bytes sample{std::istreambuf_iterator<char>(file), {}};
        if (!file && !file.eof()) {
            std::fprintf(stderr, "bound_search: cannot read %s\n", argv[i]);
            return 1;
        }
        std::printf("%s: %zu bytes\n", argv[i], sample.size());
        for (int level : levels)
            Measure(sample, ("level " + std::to_string(level)).c_str(), stubkit::SettingsForLevel(level));
        size_t bound = 0;
        for (const Row& row : rows) {
            size_t size = Measure(sample, row.name, row.settings);
            if (size == 0)
                status = 1;
            else if (bound == 0 || size < bound)
                bound = size;
        }
        if (bound != 0)
            std::printf("  bound %zu bytes\n", bound);
    }
    return status;
}
