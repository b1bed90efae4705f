// Runs an installer's payload through the installer's own decoder and a copy
// of its extraction rules, so that `test` and `extract` judge a file exactly
// as the installer would: the names it refuses (its own name rules), one
// running CRC per file compared when the file is closed, the sink moving to
// the next record only when bytes are left over, bytes beyond the last record
// dropped, and the remaining-bytes count that must end at 0.
#ifndef STUBKIT_PAYLOAD_RUN_H
#define STUBKIT_PAYLOAD_RUN_H

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "payload/name_rules.h"
#include "stubkit/container/installer_file.h"

namespace stubkit {

// Where the files go; `test` passes none. Errors are thrown as exceptions.
class FileOutput {
public:
    virtual ~FileOutput() = default;
    virtual void Open(std::size_t index, const FileRecord& record) = 0;
    virtual void Write(const std::uint8_t* bytes, std::size_t size) = 0;
    // Called when the sink finishes a file whose CRC matched.
    virtual void Close(std::size_t index, const FileRecord& record) = 0;
    // Called once a file has failed its CRC; nothing follows.
    virtual void Abandon(std::size_t index) = 0;
};

struct PayloadVerdict {
    bool success = false;
    std::optional<std::size_t> damaged_file;   // the file that failed its CRC
    std::optional<std::size_t> refused_name;   // the file whose name the installer refuses
    std::size_t files_reached = 0;        // records the sink opened
    std::uint32_t bytes_remaining = 0;    // the installer's BytesRemaining at the end
};

// Called now and then with the decoded byte count.
using DecodeProgress = std::function<void(std::uint64_t decoded)>;

// Decodes the stream behind the table, its names judged in the code page
// whose lead bytes `lead` holds (none: a single-byte one). Throws only for
// failures of the host (unreadable file, unwritable output); a damaged
// payload is a verdict.
PayloadVerdict RunPayload(const InstallerImage& image, FileOutput* output, const LeadByteSet* lead,
                          const DecodeProgress& progress = nullptr);

// The same for an installer file held in memory.
PayloadVerdict RunPayloadInMemory(const InstallerImage& image, const std::uint8_t* file, std::size_t size,
                                  FileOutput* output, const LeadByteSet* lead);

}  // namespace stubkit

#endif
