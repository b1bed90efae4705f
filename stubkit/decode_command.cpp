#include <memory>

#include "payload/stream_decoder.h"
#include "stubkit/commands.h"
#include "stubkit/file_io.h"

namespace stubkit {
namespace {

struct DecodeOptions {
    uint32_t total = 0;
    std::string input;
    std::string output;
};

// DecodeStream takes plain function pointers, as in the installer.
File* decode_input;
File* decode_output;

int ReadByte(unsigned char* buffer, int count)
{
    int byte = count == 1 ? std::getc(decode_input->Handle()) : EOF;
    if (byte == EOF)
        return 0;
    buffer[0] = static_cast<unsigned char>(byte);
    return 1;
}

int WriteBytes(const unsigned char* bytes, int length)
{
    decode_output->Write(bytes, static_cast<size_t>(length));
    return length;
}

void RunDecode(const DecodeOptions& options)
{
    File in(options.input, "rb");
    File out(options.output, "wb");
    decode_input = &in;
    decode_output = &out;
    DecodeStream(ReadByte, WriteBytes, options.total);
    if (std::ferror(in.Handle()))
        throw std::runtime_error("cannot read '" + in.Path() + "'");
    out.Close();
}

}  // namespace

void AddDecodeCommand(CLI::App& app)
{
    auto options = std::make_shared<DecodeOptions>();
    CLI::App* command = app.add_subcommand(
        "decode", "Decode the raw stream IN as the installer does, writing every byte it emits");
    command->add_option("--total", options->total, "Bytes to produce (the payload's total size)")
        ->required();
    command->add_option("IN", options->input, "Stream to decode")->required();
    command->add_option("OUT", options->output, "File to write")->required();
    command->callback([options] { RunDecode(*options); });
}

}  // namespace stubkit
