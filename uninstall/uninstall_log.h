// The uninstall data file "davirado.dat": a title line, then one record line
// per created file, shortcut and registry key, in creation order. Each line is
// its text and a line feed; a record is its type character and its argument.
// The installer appends (writer side, log_writer.cpp: a library of its own,
// below the extraction and the shortcuts, which append records too); the
// uninstaller reads (reader side, log_reader.cpp).
#ifndef STUBKIT_UNINSTALL_LOG_H
#define STUBKIT_UNINSTALL_LOG_H

#include <windows.h>

#define UNINSTALL_LOG_NAME "davirado.dat"

enum {
    LogLineCapacity = 260,       // characters of one line, without its line feed
    LogLineBufferSize = LogLineCapacity + 1
};

enum LogRecordType {
    FileRecordType = '0',
    StartMenuShortcutRecordType = '1',
    DesktopShortcutRecordType = '2',
    RegistryKeyRecordType = '3'
};

// Writer side. The installer's open log, INVALID_HANDLE_VALUE while none is open.
extern HANDLE UninstallLog;

// Writes the text's bytes (no NUL) to UninstallLog in one write; returns the
// count written, 0 on failure.
int WriteLogText(const char* text);
// The text, then a line feed.
void WriteLogLine(const char* text);
// The type character, then the argument as a line.
void WriteLogRecord(LogRecordType type, const char* argument);

// Creates InstallDir + "davirado.dat" (with any missing folders), keeps it
// open as UninstallLog and writes `title` (at most 259 characters of it) as
// the first line. An earlier log there whose first line is the same title and
// whose last line is whole is kept, and appended to, instead; any other is
// replaced. False when the file cannot be created.
bool CreateUninstallLog(const char* title);

// Closes UninstallLog if it is open; nothing is buffered, so nothing is lost.
void CloseUninstallLog(void);

// Reader side. Reads the next line, one byte per read call, into `buffer`
// (capacity + 1 bytes) as a NUL-terminated text without its line feed; at most
// `capacity` characters. Returns true when the end of the file was reached or
// a read failed during this call.
bool ReadLogLine(char* buffer, int capacity, HANDLE file);

#endif
