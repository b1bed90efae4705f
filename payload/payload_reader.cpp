#include "payload/payload_reader.h"

#include <string.h>

#include "common/argument_vector.h"
#include "common/bounded_text.h"
#include "common/config_block.h"
#include "common/setup_globals.h"
#include "payload/extract_sink.h"
#include "payload/name_rules.h"
#include "payload/stream_decoder.h"
#include "uninstall/uninstall_log.h"

HANDLE InstallerFile = INVALID_HANDLE_VALUE;
unsigned char file_table[FileTableSize];
uint32_t file_count;
uint32_t total_size;
uint32_t table_size;
uint32_t BytesRemaining;
bool ReadBytesUnbuffered;

static const char IncompleteFileText[] =
    "This is an incomplete installation file\n(possibly from an incomplete download).";
const char CorruptedFileText[] = "This is a corrupted installation file.";

// ---------------------------------------------------------------------------
// Reading. One ReadFile per byte runs at about 1 MB/s under Wine, so bytes
// come from read_buffer, refilled with large reads; the decoder takes them
// from there in place. The file position the caller sees is read_next.

static unsigned char read_buffer[ReadBufferSize];
static const unsigned char* read_next = read_buffer;
static const unsigned char* read_end = read_buffer;

static int ReadDirect(unsigned char* buffer, int n)
{
    DWORD got = 0;
    if (!ReadFile(InstallerFile, buffer, static_cast<DWORD>(n), &got, 0))
        return 0;
    return static_cast<int>(got);
}

// The measurement mode refills one byte per ReadFile.
static bool RefillReadBuffer(void)
{
    int got = ReadDirect(read_buffer, ReadBytesUnbuffered ? 1 : ReadBufferSize);
    read_next = read_buffer;
    read_end = read_buffer + (got > 0 ? got : 0);
    return got > 0;
}

static int ReadBuffered(unsigned char* buffer, int n)
{
    int done = 0;
    while (done < n) {
        if (read_next == read_end && !RefillReadBuffer())
            break;
        int piece = static_cast<int>(read_end - read_next);
        if (piece > n - done)
            piece = n - done;
        for (int i = 0; i < piece; ++i)
            buffer[done + i] = read_next[i];
        read_next += piece;
        done += piece;
    }
    return done;
}

int ReadBytes(unsigned char* buffer, int n)
{
    if (n <= 0)
        return 0;
    if (ReadBytesUnbuffered)
        return ReadDirect(buffer, n);
    return ReadBuffered(buffer, n);
}

// The decoder's buffered input: what is left in read_buffer, in place, then
// the buffer refilled.
static int FillFromReadBuffer(const unsigned char** bytes)
{
    if (read_next == read_end)
        KeepWindowAlive();
    if (read_next == read_end && !RefillReadBuffer())
        return 0;
    *bytes = read_next;
    int size = static_cast<int>(read_end - read_next);
    read_next = read_end;
    return size;
}

static void RestartReading(void)
{
    read_next = read_end = read_buffer;
}

bool OpenInstallerFile(const char* path)
{
    RestartReading();
    InstallerFile = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, 0,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, 0);
    return InstallerFile != INVALID_HANDLE_VALUE;
}

static uint32_t LittleEndianU32(const unsigned char* bytes)
{
    return bytes[0] | (bytes[1] << 8) | (bytes[2] << 16) | (static_cast<uint32_t>(bytes[3]) << 24);
}

uint32_t ReadU32(void)
{
    unsigned char bytes[4] = { 0, 0, 0, 0 };
    ReadBytes(bytes, 4);
    return LittleEndianU32(bytes);
}

// ---------------------------------------------------------------------------
// Reading order.

static void CloseInstallerFile(void)
{
    if (InstallerFile == INVALID_HANDLE_VALUE)
        return;
    CloseHandle(InstallerFile);
    InstallerFile = INVALID_HANDLE_VALUE;
}

// The log goes first, so the file is complete on disk before the user reads
// the message.
static PayloadResult Reject(PayloadResult result, const char* text)
{
    CloseUninstallLog();
    CloseInstallerFile();
    ShowError(text);
    return result;
}

static bool OpenOwnFile(bool* appendedExe)
{
    wchar_t path[PathBufferSize + 4];
    DWORD length = GetModuleFileNameW(0, path, PathBufferSize);
    if (length == 0 || length >= PathBufferSize)
        return false;
    // The last four characters, each with the bit that tells ASCII letters'
    // cases set: ".exe" in any case reads as ".exe" (no character a file name
    // may hold reads as the dot).
    uint64_t tail = 0;
    if (length >= 4)
        memcpy(&tail, path + length - 4, sizeof tail);
    *appendedExe = (tail | 0x0020002000200020ull) != 0x006500780065002Eull;
    if (*appendedExe)
        memcpy(path + length, L".exe", sizeof L".exe");
    RestartReading();
    InstallerFile = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, 0, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, 0);
    return InstallerFile != INVALID_HANDLE_VALUE;
}

// The message names argument 0 as the process was started, with the ".exe"
// the search for the file added; a path too long is shown cut.
static PayloadResult RejectUnopenable(bool appendedExe)
{
    char message[PathBufferSize];
    TextCopy(message, sizeof message, "Cannot open installation file:\n    ");
    int count = 0;
    char** vector = 0;
    GetArgumentVector(&count, &vector);
    if (count > 0)
        TextAppend(message, sizeof message, vector[0]);
    if (appendedExe)
        TextAppend(message, sizeof message, ".exe");
    return Reject(PayloadCannotOpen, message);
}

// Reads `count` bytes into file_table from its start. A count the table
// cannot hold is never read: it fails like a short file.
static bool ReadIntoFileTable(int64_t count)
{
    if (count < 0 || count > FileTableSize)
        return false;
    return ReadBytes(file_table, static_cast<int>(count)) == count;
}

// A header cut short would read as zeros and pass as an empty product, so a
// file that ends at or just behind its stub is incomplete instead.
static bool ReadHeader(void)
{
    unsigned char header[12] = { 0 };
    bool whole = ReadBytes(header, sizeof header) == sizeof header;
    file_count = LittleEndianU32(header);
    total_size = LittleEndianU32(header + 4);
    table_size = LittleEndianU32(header + 8);
    return whole;
}

// Every name the sink will reach, judged before the first file is written: a
// name that can never be created, or would replace the uninstaller or its
// data file, refuses the whole payload. A record the table does not hold
// fails later, as incomplete.
LeadByteSet SystemLeadBytes;

static void ReadSystemLeadBytes(void)
{
    for (unsigned byte = 0x80; byte < 0x100; ++byte)
        if (IsDBCSLeadByte(static_cast<BYTE>(byte)))
            SystemLeadBytes.bits[byte >> 3] |= static_cast<unsigned char>(1 << (byte & 7));
}

static bool TableNamesInstallable(void)
{
    uint32_t position = 0;
    for (uint32_t index = 0; index < file_count; ++index) {
        if (table_size - position <= FileRecordFixedSize)
            return true;
        const unsigned length = file_table[position + FileRecordFixedSize];
        const uint32_t name = position + FileRecordFixedSize + 1;
        if (table_size - name < length)
            return true;
        if (JudgeTableName(reinterpret_cast<const char*>(file_table + name), length, &SystemLeadBytes) !=
            NameInstallable)
            return false;
        position = name + length;
    }
    return true;
}

// Windows takes at most 255 UTF-16 characters in a name, and the hosts that
// run it (Wine's) at most 255 bytes of UTF-8.
static bool PartFitsTheFileSystem(const char* part, unsigned length)
{
    WCHAR wide[MaxNamePart + 1];
    int units = MultiByteToWideChar(CP_ACP, 0, part, static_cast<int>(length), wide, MaxNamePart + 1);
    return units > 0 && units <= MaxNamePart &&
           WideCharToMultiByte(CP_UTF8, 0, wide, units, 0, 0, 0, 0) <= MaxNamePart;
}

// The whole path within 259 characters, every folder of it within 247 (the
// system keeps room for an 8.3 name), and every part within the file
// system's length.
static bool NameFitsUnderInstallDir(const char* name, unsigned length)
{
    const unsigned base = TextLength(InstallDir);
    if (base + length > PathBufferSize - 1)
        return false;
    unsigned start = 0;
    for (unsigned end = 0; end <= length; ++end) {
        if (end < length && name[end] != '\\') {
            end += CharacterLength(&SystemLeadBytes, name, end, length) - 1;
            continue;
        }
        if ((end < length && base + end > MaxFolderPath) || !PartFitsTheFileSystem(name + start, end - start))
            return false;
        start = end + 1;
    }
    return true;
}

// The first record that cannot be created under InstallDir ends the process
// before anything is written, naming its path (as much of it as the message
// holds).
static void CheckTableFitsInstallDir(void)
{
    uint32_t position = 0;
    for (uint32_t index = 0; index < file_count; ++index) {
        if (table_size - position <= FileRecordFixedSize)
            return;
        const unsigned length = file_table[position + FileRecordFixedSize];
        const char* name = reinterpret_cast<const char*>(file_table + position + FileRecordFixedSize + 1);
        if (table_size - (position + FileRecordFixedSize + 1) < length)
            return;
        if (!NameFitsUnderInstallDir(name, length)) {
            char message[PathBufferSize];
            TextCopy(message, sizeof message, "Cannot create file:\n    ");
            TextAppend(message, sizeof message, InstallDir);
            unsigned used = TextLength(message);
            TextCopyCount(message + used, sizeof message - used, name, length);
            ShowError(message);
            ExitProcess(1);
        }
        position += FileRecordFixedSize + 1 + length;
    }
}

static void DecodeIntoSink(void)
{
    SinkStart(file_count);
    BytesRemaining = total_size;
    DecodeStreamBuffered(FillFromReadBuffer, SinkWrite, total_size);
    SinkFinish();
}

PayloadResult ReadPayloadTable(void)
{
    ReadSystemLeadBytes();
    bool appendedExe = false;
    if (!OpenOwnFile(&appendedExe))
        return RejectUnopenable(appendedExe);
    int stubSize = ConfiguredStubSize(&Config);
    if (stubSize == 0)
        return Reject(PayloadUnconfigured, "Unconfigured installation file.");
    // Reading the stub rather than seeking past it catches a file shorter
    // than its stub.
    if (!ReadIntoFileTable(stubSize))
        return Reject(PayloadIncomplete, IncompleteFileText);
    if (!ReadHeader() || !ReadIntoFileTable(table_size))
        return Reject(PayloadIncomplete, IncompleteFileText);
    if (!TableNamesInstallable())
        return Reject(PayloadRefusedName, CorruptedFileText);
    CheckTableFitsInstallDir();
    return PayloadExtracted;
}

PayloadResult ExtractPayload(void)
{
    DecodeIntoSink();
    CloseInstallerFile();
    if (BytesRemaining != 0 || !SinkReachedEveryRecord())
        return Reject(PayloadBytesRemain, IncompleteFileText);
    return PayloadExtracted;
}
