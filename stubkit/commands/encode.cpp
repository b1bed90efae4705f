#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "stubkit/commands/command_line.h"
#include "stubkit/commands/commands.h"
#include "stubkit/files/file_identity.h"
#include "stubkit/files/file_io.h"
#include "stubkit/encoder/encoder.h"

namespace stubkit {
namespace {

struct EncodeOptions {
    int level = kDefaultLevel;
    int threads = 1;
    std::string input;
    std::string output;
    Verbosity verbosity;
};

void RunEncode(const EncodeOptions& options)
{
    const std::string problem = StreamOutputProblem(options.output, {std::filesystem::u8path(options.input)});
    if (!problem.empty())
        throw std::runtime_error(problem + "; nothing was written");
    File in(options.input, "rb");
    File out(options.output, "wb");
    std::uint64_t read = 0, written = 0;
    StreamEncoder encoder(options.level, [&](const uint8_t* bytes, size_t size) {
        out.Write(bytes, size);
        written += size;
    }, options.threads);
    std::vector<uint8_t> buffer(1 << 20);
    while (size_t size = in.Read(buffer.data(), buffer.size())) {
        encoder.Write(buffer.data(), size);
        read += size;
    }
    encoder.Finish();
    out.Close();
    if (options.verbosity.verbose)
        std::fprintf(stderr, "stubkit encode: %s: %llu bytes -> %llu bytes (%.1f%%)\n", in.Path().c_str(),
                     static_cast<unsigned long long>(read), static_cast<unsigned long long>(written),
                     read == 0 ? 0.0 : 100.0 * static_cast<double>(written) / static_cast<double>(read));
}

// What each level does, from the fastest to the smallest output; the window
// (4 MiB) and the stream format are the same at every level.
std::string LevelDescription(int level)
{
    switch (level) {
    case 1: return "Fastest: greedy matching over 4-byte hash chains";
    case 2: return "Lazy matching over 4-byte hash chains";
    case 3: return "Lazy matching over longer 3-byte hash chains";
    case 4: return "Lazy matching over the longest 3-byte hash chains";
    case 5: return "Optimal parsing over binary trees, several threads with -T";
    case kBestLevel: return "Default: optimal parsing with the deepest search; -10 .. -12 (--ultra) go further";
    default: return "As -" + std::to_string(level - 1) + ", searching deeper";
    }
}

}  // namespace

void AddEncodeCommand(CLI::App& app)
{
    auto options = std::make_shared<EncodeOptions>();
    CLI::App* command = app.add_subcommand("encode", "Compress IN into the raw payload stream OUT");
    // -1 (fastest) to -9 (smallest), like the compressors users know.
    for (int level = kFastestLevel; level <= kBestLevel; ++level) {
        command->add_flag_callback("-" + std::to_string(level), [options, level] { options->level = level; },
                                   LevelDescription(level));
    }
    AddHighLevelFlags(*command, [options](int level) { options->level = level; });
    AddThreadsOption(*command, options->threads);
    command->add_option("IN", options->input, "File to compress ('-': standard input)")->required()->type_name("");
    command->add_option("OUT", options->output,
                        "Stream to write ('-': standard output; a FIFO or device is written into)")
        ->required()
        ->type_name("");
    AddVerbosityFlags(*command, options->verbosity, "Print errors only (the default)",
                      "Also print the sizes in and out on stderr");
    command->callback([options] { RunEncode(*options); });
}

}  // namespace stubkit
