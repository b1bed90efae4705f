// The extraction sink: cuts the decoded stream into the files of the file
// table, creates each under InstallDir (with its folders), records it in the
// uninstall log before its first byte, runs its CRC while writing, and on
// closing checks the CRC and restores its three times.
//
// A file that cannot be created or a CRC that does not match ends the process
// with exit code 1 after ShowError. Names were judged before (ExtractPayload).
#ifndef STUBKIT_EXTRACT_SINK_H
#define STUBKIT_EXTRACT_SINK_H

#include <windows.h>
#include <stdint.h>

#include "payload/payload_reader.h"

// Sink state, one for the process.
extern int32_t files_left;              // records not yet opened
extern uint32_t table_pos;              // offset of the next record in file_table
extern FileRecord current_record;       // fixed part of the open file's record
extern uint32_t written_in_file;
extern uint32_t running_crc;
extern HANDLE output_file;              // INVALID_HANDLE_VALUE when none is open

// Starting state: no file open, an empty current record with the empty CRC,
// `count` files to come, the table read from its start.
void SinkStart(uint32_t count);

// The decoder's WriteCallback: places the chunk into the open file and the
// ones after it, opening each as the bytes reach it. Returns the count that
// the file writes reported. Bytes beyond the last record, or beyond a record
// the table does not hold, are dropped and not counted.
int SinkWrite(const unsigned char* bytes, int length);

// Opens the record at table_pos: creates the file, logs it, resets the CRC.
// False, with nothing created, when the table does not hold the record.
bool OpenNextFile(void);

// Finishes the open file, if any: closes it, compares its CRC, sets its times
// (silently skipped when it cannot be reopened).
void SinkClose(void);

// The last SinkClose: also creates the empty records that come after the last
// byte of the stream, so every packed file is installed.
void SinkFinish(void);

// After SinkFinish: true when every record of the table was opened, no record
// was missing from it, and the last file received all its bytes. Otherwise
// the counts in the payload lie and the installation is incomplete.
bool SinkReachedEveryRecord(void);

// Lets the system see the setup window alive and repaints it when uncovered;
// called between input refills (at most tens of megabytes of output apart)
// and every 64 files.
void KeepWindowAlive(void);

#endif
