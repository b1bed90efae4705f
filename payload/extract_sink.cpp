#include "payload/extract_sink.h"

#include "common/bounded_text.h"
#include "common/setup_globals.h"
#include "payload/crc32.h"
#include "payload/output_file.h"
#include "uninstall/uninstall_log.h"

int32_t files_left;
uint32_t table_pos;
FileRecord current_record;
uint32_t written_in_file;
uint32_t running_crc;
HANDLE output_file = INVALID_HANDLE_VALUE;
static char current_path[PathBufferSize];
static bool table_short;

static_assert(sizeof(FileRecord) == FileRecordFixedSize, "FileRecord is the 32-byte fixed part");

enum { NameLengthSize = 1, MaxNameLength = 255 };

__attribute__((noreturn)) static void EndProcess(const char* text)
{
    ShowError(text);
    ExitProcess(1);
}

static void EndCorrupted(void)
{
    EndProcess(CorruptedFileText);
}

// current_path may have been cut to fit; the user still sees where it went.
static void EndCannotCreate(void)
{
    char message[PathBufferSize];
    TextCopy(message, sizeof message, "Cannot create file:\n    ");
    TextAppend(message, sizeof message, current_path);
    EndProcess(message);
}

void SinkStart(uint32_t count)
{
    files_left = static_cast<int32_t>(count);
    table_pos = 0;
    current_record.file_size = 0;
    current_record.crc_value = CrcInitial;
    written_in_file = 0;
    running_crc = CrcInitial;
    output_file = INVALID_HANDLE_VALUE;
    current_path[0] = '\0';
    // No table holds 2^31 records, and as a signed count they would read as
    // none to come.
    table_short = count > 0x7FFFFFFFu;
}

bool SinkReachedEveryRecord(void)
{
    return !table_short && table_pos == table_size && written_in_file >= current_record.file_size;
}

// The record at table_pos lies wholly inside the table that was read.
static bool NextRecordHeld(void)
{
    uint32_t left = table_size - table_pos;
    if (left < FileRecordFixedSize + NameLengthSize)
        return false;
    return left - FileRecordFixedSize - NameLengthSize >= file_table[table_pos + FileRecordFixedSize];
}

// Takes the record at table_pos into current_record and `name`.
static void TakeRecord(char* name)
{
    unsigned char* fixed = reinterpret_cast<unsigned char*>(&current_record);
    for (int i = 0; i < FileRecordFixedSize; ++i)
        fixed[i] = file_table[table_pos + i];
    table_pos += FileRecordFixedSize;
    unsigned length = file_table[table_pos];
    TextCopyCount(name, MaxNameLength + 1, reinterpret_cast<const char*>(file_table + table_pos + 1), length);
    table_pos += NameLengthSize + length;
    written_in_file = 0;
}

// Asked now and then during extraction, the system sees the window alive (a
// look at the queue serves messages other programs send and resets its
// hung-window timer), and an uncovered window is repainted. Nothing else is
// taken from the queue, so the sequence runs on undisturbed.
void KeepWindowAlive(void)
{
    MSG message;
    PeekMessageA(&message, 0, 0, 0, PM_NOREMOVE);
    while (PeekMessageA(&message, 0, WM_PAINT, WM_PAINT, PM_REMOVE))
        DispatchMessageA(&message);
}

// Every 64 files: creating one takes about a millisecond or two under Wine.
static unsigned files_opened;

bool OpenNextFile(void)
{
    if ((++files_opened & 63) == 0)
        KeepWindowAlive();
    if (!NextRecordHeld()) {
        table_short = true;
        return false;
    }
    running_crc = CrcInitial;
    char name[MaxNameLength + 1];
    TakeRecord(name);
    if (!TextCopy(current_path, sizeof current_path, InstallDir) ||
        !TextAppend(current_path, sizeof current_path, name))
        EndCannotCreate();
    output_file = CreateOutputFile(current_path);
    if (output_file == INVALID_HANDLE_VALUE)
        EndCannotCreate();
    // Logged before the first byte, so an uninstall removes the file even if
    // the installation stops inside it.
    WriteLogRecord(FileRecordType, current_path);
    return true;
}

// The times go on through the handle still open, before it closes: a second
// open of every file would cost as much as its creation. A file whose check
// fails keeps the times of its writing, as it always has.
void SinkClose(void)
{
    if (output_file == INVALID_HANDLE_VALUE)
        return;
    const bool intact = running_crc == current_record.crc_value;
    if (intact)
        SetFileTime(output_file, &current_record.creation_time, &current_record.access_time,
                    &current_record.write_time);
    CloseHandle(output_file);
    output_file = INVALID_HANDLE_VALUE;
    if (!intact)
        EndCorrupted();
}

// Moves on to the next record once the open file is full. False when there is
// none to move to: the sink then takes no more bytes.
static bool AdvanceToNextFile(void)
{
    SinkClose();
    if (files_left <= 0) {
        files_left = -1;
        return false;
    }
    --files_left;
    if (OpenNextFile())
        return true;
    files_left = -1;
    return false;
}

// One write of as much of the chunk as the open file still takes. Returns the
// count the write reported; a failed or short write leaves its shortfall in
// BytesRemaining, so the installation can never end in success.
static int WriteStep(const unsigned char* bytes, int available)
{
    uint32_t n = current_record.file_size - written_in_file;
    if (n > static_cast<uint32_t>(available))
        n = static_cast<uint32_t>(available);
    written_in_file += n;
    running_crc = UpdateCrc(running_crc, bytes, n);
    DWORD written = 0;
    if (!WriteFile(output_file, bytes, n, &written, 0))
        written = 0;
    BytesRemaining -= written;
    return static_cast<int>(written);
}

int SinkWrite(const unsigned char* bytes, int length)
{
    int done = 0;
    while (done < length) {
        if (written_in_file >= current_record.file_size && !AdvanceToNextFile())
            break;
        done += WriteStep(bytes + done, length - done);
    }
    return done;
}

static bool NextRecordIsEmpty(void)
{
    if (!NextRecordHeld()) {
        table_short = true;
        return false;
    }
    const unsigned char* size = file_table + table_pos + 4;
    return (size[0] | size[1] | size[2] | size[3]) == 0;
}

void SinkFinish(void)
{
    SinkClose();
    if (written_in_file < current_record.file_size)
        return;   // the stream ended inside a file: nothing after it was reached
    while (files_left > 0 && NextRecordIsEmpty()) {
        --files_left;
        OpenNextFile();
        SinkClose();
    }
}
