// The payload behind the stub: header, file table and compressed stream, read
// from the installer's own file.
//
//   offset N       file_count  u32 LE   records in the file table
//   offset N + 4   total_size  u32 LE   decoded length of the stream
//   offset N + 8   table_size  u32 LE   T, length of the table in bytes
//   offset N + 12  file table  T bytes  FileRecord after FileRecord
//   N + 12 + T     the stream, up to the end of the file
//
// N is StubSize from the configuration record.
#ifndef STUBKIT_PAYLOAD_READER_H
#define STUBKIT_PAYLOAD_READER_H

#include <windows.h>
#include <stdint.h>

#include "payload/name_rules.h"
#include "payload/payload_limits.h"

enum {
    ReadBufferSize = 65536,
    MaxNamePart = 255,     // UTF-16 characters of a name, and its UTF-8 bytes
    MaxFolderPath = 247    // characters of a folder the system creates
};

// Fixed part of a file table entry; `name_length` and the name follow it.
struct FileRecord {
    uint32_t crc_value;       // CRC register after the last byte, not inverted
    uint32_t file_size;
    FILETIME creation_time;   // the order SetFileTime takes them in
    FILETIME access_time;
    FILETIME write_time;
};
enum { FileRecordFixedSize = 32 };

// PayloadReader state, one for the process.
extern HANDLE InstallerFile;
extern unsigned char file_table[FileTableSize];
extern uint32_t file_count;
extern uint32_t total_size;
extern uint32_t table_size;
// Set to total_size before decoding; the sink subtracts every byte a file
// write reports. Anything left after decoding means an incomplete payload.
extern uint32_t BytesRemaining;

// When set, ReadBytes issues one ReadFile per call instead of serving bytes
// from its buffer, and the decoder gets its input one ReadFile per byte. For
// measurements only; the installer never sets it.
extern bool ReadBytesUnbuffered;

// Opens the installer's own file for reading as InstallerFile, from its
// start; false when it cannot be opened.
bool OpenInstallerFile(const char* path);

// Reads n bytes from the current position of InstallerFile into `buffer` and
// returns the count read: fewer at the end of the file, 0 at the end or when
// reading fails. Bytes are served from a buffer refilled with large reads,
// which the decoder then reads in place.
int ReadBytes(unsigned char* buffer, int n);

// A little-endian u32 by ReadBytes; bytes a short read leaves out stay 0.
uint32_t ReadU32(void);

enum PayloadResult {
    PayloadExtracted = 0,
    PayloadCannotOpen = 1,      // the installer's own file
    PayloadUnconfigured = 2,    // StubSize reads as 0
    PayloadIncomplete = 3,      // stub or file table short, or counts that lie
    PayloadBytesRemain = 4,     // decoding left bytes over or records unreached
    PayloadRefusedName = 5      // a name the installer never creates: nothing was extracted
};

// "This is a corrupted installation file.", the sink's message too.
extern const char CorruptedFileText[];

// The lead bytes of the system's code page, read by ReadPayloadTable; the
// names of the table and the run-after program are judged in it.
extern LeadByteSet SystemLeadBytes;

// The reading order up to the stream: opens the installer's own file (the
// program path of argument 0, ".exe" appended unless it ends so), skips the
// stub, reads header and table. A table holding a name that JudgeTableName
// refuses is refused with the corrupted-file message. InstallDir must be set:
// a name that does not fit under it (path, folder or part too long) ends the
// process with "Cannot create file:" and its path (exit code 1). All of it
// before anything is written. On failure it closes InstallerFile and shows
// the failure's message through ShowError.
PayloadResult ReadPayloadTable(void);

// The rest: decodes the stream into the extraction sink and finishes the
// last file. ReadPayloadTable must have succeeded, BuildCrcTable run and
// UninstallLog be open. On failure it closes the uninstall log and
// InstallerFile and then shows the message through ShowError. A file that
// cannot be created or fails its CRC ends the process inside (exit code 1).
PayloadResult ExtractPayload(void);

#endif
