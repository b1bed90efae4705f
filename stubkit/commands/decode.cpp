#include <cstdio>
#include <memory>

#include "payload/stream_decoder.h"
#include "stubkit/commands/command_line.h"
#include "stubkit/commands/commands.h"
#include "stubkit/files/file_identity.h"
#include "stubkit/files/file_io.h"

namespace stubkit {
namespace {

struct DecodeOptions {
    std::string total;
    std::string input;
    std::string output;
    Verbosity verbosity;
};

// The decoder takes plain function pointers, as in the installer, and reads
// its input in place from a buffer refilled in large reads.
File* decode_input;
File* decode_output;
uint8_t input_buffer[1 << 16];
uint64_t bytes_written;

int FillInput(const unsigned char** bytes)
{
    *bytes = input_buffer;
    return static_cast<int>(decode_input->Read(input_buffer, sizeof input_buffer));
}

int WriteBytes(const unsigned char* bytes, int length)
{
    decode_output->Write(bytes, static_cast<size_t>(length));
    bytes_written += static_cast<uint64_t>(length);
    return length;
}

void RunDecode(const DecodeOptions& options)
{
    const std::string problem = StreamOutputProblem(options.output, {std::filesystem::u8path(options.input)});
    if (!problem.empty())
        throw std::runtime_error(problem + "; nothing was written");
    File in(options.input, "rb");
    File out(options.output, "wb");
    decode_input = &in;
    decode_output = &out;
    bytes_written = 0;
    const uint32_t total = static_cast<uint32_t>(std::stoul(options.total));
    DecodeStreamBuffered(FillInput, WriteBytes, total);
    out.Close();
    // The decoder stops early at an end block; the installer would then be
    // missing bytes, which is a failure, not a shorter success.
    if (bytes_written < total)
        throw std::runtime_error("the stream in '" + in.Path() + "' yields " + std::to_string(bytes_written) +
                                 " of the " + std::to_string(total) + " bytes asked for");
    if (options.verbosity.verbose)
        std::fprintf(stderr, "stubkit decode: %s: %llu bytes written\n", in.Path().c_str(),
                     static_cast<unsigned long long>(bytes_written));
}

}  // namespace

void AddDecodeCommand(CLI::App& app)
{
    auto options = std::make_shared<DecodeOptions>();
    CLI::App* command = app.add_subcommand(
        "decode", "Decode the raw stream IN as the installer does, writing every byte it emits");
    command->add_option("--total", options->total, "Bytes to produce (the payload's total size)")
        ->required()
        ->check(CLI::Validator(
            [](std::string& text) {
                const bool number = !text.empty() && text.size() <= 10 &&
                                    text.find_first_not_of("0123456789") == std::string::npos &&
                                    std::stoull(text) <= UINT32_MAX;
                return number ? std::string() : "'" + text + "' is not a byte count from 0 to 4294967295";
            },
            "", "ByteCount"))
        ->type_name("BYTES");
    command->add_option("IN", options->input, "Stream to decode ('-': standard input)")->required()->type_name("");
    command->add_option("OUT", options->output,
                        "File to write ('-': standard output; a FIFO or device is written into)")
        ->required()
        ->type_name("");
    AddVerbosityFlags(*command, options->verbosity, "Print errors only (the default)",
                      "Also print the bytes written on stderr");
    command->callback([options] { RunDecode(*options); });
}

}  // namespace stubkit
