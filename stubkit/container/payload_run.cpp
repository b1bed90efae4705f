#include "stubkit/container/payload_run.h"

#include <algorithm>
#include <exception>
#include <fstream>
#include <vector>

#include "payload/crc32.h"
#include "payload/name_rules.h"
#include "payload/stream_decoder.h"
#include "stubkit/crc/fast_crc32.h"

namespace stubkit {
namespace {

// The stream's bytes, a run at a time, read by the decoder in place. Past the
// end, and once the outcome is settled, it delivers nothing, which the
// decoder reads as zero bits until it ends.
class StreamInput {
public:
    virtual ~StreamInput() = default;
    virtual int Fill(const unsigned char** bytes) = 0;
    void Stop() { stopped_ = true; }

protected:
    bool stopped_ = false;
};

class MemoryInput : public StreamInput {
public:
    MemoryInput(const std::uint8_t* bytes, std::size_t size) : bytes_(bytes), size_(size) {}

    int Fill(const unsigned char** bytes) override
    {
        if (stopped_ || position_ >= size_)
            return 0;
        // Runs stay within what an int counts.
        const std::size_t run = std::min<std::size_t>(size_ - position_, 1u << 30);
        *bytes = bytes_ + position_;
        position_ += run;
        return static_cast<int>(run);
    }

private:
    const std::uint8_t* bytes_;
    std::size_t size_;
    std::size_t position_ = 0;
};

// The file is read in large pieces.
class FileInput : public StreamInput {
public:
    FileInput(const std::filesystem::path& path, std::uint64_t offset)
        : in_(path, std::ios::binary), buffer_(1 << 16)
    {
        if (!in_ || !in_.seekg(static_cast<std::streamoff>(offset)))
            throw std::runtime_error("cannot read '" + path.u8string() + "'");
    }

    int Fill(const unsigned char** bytes) override
    {
        if (position_ == filled_ && !Refill())
            return 0;
        *bytes = buffer_.data() + position_;
        const std::size_t run = filled_ - position_;
        position_ = filled_;
        return static_cast<int>(run);
    }

private:
    bool Refill()
    {
        if (stopped_ || in_.eof())
            return false;
        in_.read(reinterpret_cast<char*>(buffer_.data()), static_cast<std::streamsize>(buffer_.size()));
        filled_ = static_cast<std::size_t>(in_.gcount());
        position_ = 0;
        return filled_ > 0;
    }

    std::ifstream in_;
    std::vector<std::uint8_t> buffer_;
    std::size_t position_ = 0;
    std::size_t filled_ = 0;
};

// The installer's extraction sink, with the file system left to FileOutput.
class Sink {
public:
    Sink(const InstallerImage& image, FileOutput* output)
        : records_(image.records),
          output_(output),
          files_left_(static_cast<std::int32_t>(image.header.file_count)),
          bytes_remaining_(image.header.total_size)
    {
    }

    // True once the outcome can no longer change: a CRC failure ends the
    // installer, and once every record is passed all further bytes drop.
    bool Settled() const { return failure_.has_value() || files_left_ < 0; }

    void Write(const std::uint8_t* bytes, std::size_t length)
    {
        std::size_t done = 0;
        while (done < length && !failure_) {
            if (written_in_file_ >= current_.file_size) {
                Close();
                if (failure_ || --files_left_ < 0)
                    return;
                OpenNext();
            }
            const std::size_t n = std::min<std::size_t>(current_.file_size - written_in_file_,
                                                        length - done);
            written_in_file_ += static_cast<std::uint32_t>(n);
            running_crc_ = UpdateCrcFast(running_crc_, bytes + done, n);
            if (output_)
                output_->Write(bytes + done, n);
            done += n;
            bytes_remaining_ -= static_cast<std::uint32_t>(n);
        }
    }

    void Close()
    {
        if (!open_)
            return;
        open_ = false;
        if (running_crc_ != current_.crc_value) {
            failure_ = next_record_ - 1;
            if (output_)
                output_->Abandon(next_record_ - 1);
            return;
        }
        if (output_)
            output_->Close(next_record_ - 1, current_);
    }

    // The installer's end: the open file closes, and when the stream did not
    // end inside it, the empty records that follow are created and checked in
    // order (an empty file's CRC is the initial value, like any other CRC).
    void Finish()
    {
        Close();
        if (failure_ || written_in_file_ < current_.file_size)
            return;
        while (files_left_ > 0 && next_record_ < records_.size() && records_[next_record_].file_size == 0) {
            --files_left_;
            OpenNext();
            Close();
            if (failure_)
                return;
        }
    }

    std::optional<std::size_t> Failure() const { return failure_; }
    std::size_t FilesReached() const { return next_record_; }
    std::uint32_t BytesRemaining() const { return bytes_remaining_; }

private:
    void OpenNext()
    {
        // The table was checked to hold file_count records, and files_left_
        // counts them down, so next_record_ stays inside it.
        current_ = records_[next_record_];
        running_crc_ = CrcInitial;
        written_in_file_ = 0;
        open_ = true;
        if (output_)
            output_->Open(next_record_, current_);
        ++next_record_;
    }

    const std::vector<FileRecord>& records_;
    FileOutput* output_;
    std::int32_t files_left_;
    std::uint32_t bytes_remaining_;
    FileRecord current_;   // before the first file: size 0, crc_value 0xFFFFFFFF
    std::uint32_t written_in_file_ = 0;
    std::uint32_t running_crc_ = CrcInitial;
    bool open_ = false;
    std::size_t next_record_ = 0;
    std::optional<std::size_t> failure_;
};

// DecodeStream takes plain function pointers, as in the installer; one run
// at a time.
struct ActiveRun {
    StreamInput* input;
    Sink* sink;
    const DecodeProgress* progress;
    std::uint64_t decoded;
    std::exception_ptr host_failure;
};
ActiveRun* active_run = nullptr;

int FillCallbackForRun(const unsigned char** bytes)
{
    if (active_run->host_failure)
        return 0;
    return active_run->input->Fill(bytes);
}

int WriteCallbackForRun(const unsigned char* bytes, int length)
{
    ActiveRun& run = *active_run;
    if (run.host_failure || run.sink->Settled() || length <= 0)
        return length;
    try {
        run.sink->Write(bytes, static_cast<std::size_t>(length));
        run.decoded += static_cast<std::uint64_t>(length);
        if (*run.progress)
            (*run.progress)(run.decoded);
    } catch (...) {
        // Unwinding through the decoder would leave it mid-stream; the error
        // is raised again once it has returned.
        run.host_failure = std::current_exception();
    }
    if (run.host_failure || run.sink->Settled())
        run.input->Stop();
    return length;
}

// The installer judges every name before it decodes anything, and refuses
// the whole payload for one it never creates; nothing is decoded for it here
// either.
std::optional<std::size_t> FirstRefusedName(const std::vector<FileRecord>& records, const LeadByteSet* lead)
{
    for (std::size_t i = 0; i < records.size(); ++i)
        if (JudgeTableName(records[i].name.data(), static_cast<unsigned>(records[i].name.size()), lead) != NameInstallable)
            return i;
    return std::nullopt;
}

PayloadVerdict Run(const InstallerImage& image, StreamInput& input, FileOutput* output, const LeadByteSet* lead,
                   const DecodeProgress& progress)
{
    PayloadVerdict verdict;
    verdict.refused_name = FirstRefusedName(image.records, lead);
    if (verdict.refused_name)
        return verdict;
    Sink sink(image, output);
    ActiveRun run{&input, &sink, &progress, 0, nullptr};
    active_run = &run;
    DecodeStreamBuffered(FillCallbackForRun, WriteCallbackForRun, image.header.total_size);
    active_run = nullptr;
    if (run.host_failure)
        std::rethrow_exception(run.host_failure);
    sink.Finish();

    verdict.damaged_file = sink.Failure();
    verdict.files_reached = sink.FilesReached();
    verdict.bytes_remaining = sink.BytesRemaining();
    // Like the installer, a record the sink never reached is a failure.
    verdict.success = !sink.Failure() && sink.BytesRemaining() == 0 && sink.FilesReached() == image.records.size();
    return verdict;
}

}  // namespace

PayloadVerdict RunPayload(const InstallerImage& image, FileOutput* output, const LeadByteSet* lead,
                          const DecodeProgress& progress)
{
    FileInput input(image.path, image.stream_offset);
    return Run(image, input, output, lead, progress);
}

PayloadVerdict RunPayloadInMemory(const InstallerImage& image, const std::uint8_t* file, std::size_t size,
                                  FileOutput* output, const LeadByteSet* lead)
{
    const std::size_t offset = static_cast<std::size_t>(std::min<std::uint64_t>(image.stream_offset, size));
    MemoryInput input(file + offset, size - offset);
    return Run(image, input, output, lead, nullptr);
}

}  // namespace stubkit

