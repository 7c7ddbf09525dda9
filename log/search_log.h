// The engine's diagnostic log: an append-only, dated text file in a
// directory of the caller's choice, with every line echoed to standard output.
//
// The log keeps no open file: each line opens the file, appends with one
// write and closes it, so a crash loses no earlier line and lines from
// different threads never overwrite each other. Only a regular file is
// written, never one behind a symbolic link named like the log; otherwise the
// lines go to standard output alone. The state (enable flag, path
// and size cap) is written only by OpenSearchLog, before any worker thread
// exists; the writers only read it, from any thread.
//
// The file never grows past its size cap, NASSCOUT_LOG_MAX_BYTES as read by
// OpenSearchLog (bytes, or with a K, M or G suffix; 0 for none; 32 MiB when
// unset or unreadable): lines go in while the file is more than 2 KiB below
// it; then one line says the file is full and nothing more goes in, also
// after a later open on the same day. The echo to standard output goes on.
#pragma once

#include <cstdarg>

// Arms the log in `directory` (which should end in '/'; the dated file name is
// appended as it is) and writes the start banner. Returns 1 when armed, 0 when
// the log is off: disabled, no directory, or a path that would not fit.
int OpenSearchLog(bool enable, const char* directory);

// Whether lines are written at all; writers that build a line from parts skip
// the work when not.
bool SearchLogIsArmed();

// Formats one message, stamps it "*[DD::HH:MM:SS]" and appends it as a line.
// Returns 1 when a line was produced, 0 when the log is off or the message is
// empty, unformattable or too long for a 1023-character line.
int WriteSearchLog(const char* format, ...) __attribute__((format(printf, 1, 2)));

// The same line as WriteSearchLog with `prefix` (not null, taken literally)
// in front of the format: for writers that begin every line alike.
int WriteSearchLogAfter(const char* prefix, const char* format, va_list arguments)
    __attribute__((format(printf, 2, 0)));

// Writes the exit banner. The log stays armed: later lines land in the same file.
void CloseSearchLog();

// Appends "[label]:location(number): message" with no time stamp and no echo.
int WriteSearchLogAt(const char* label, const char* location, int number, const char* message);

// Like WriteSearchLog, with the time of day to the microsecond in front.
int WriteSearchLogStamped(const char* format, ...) __attribute__((format(printf, 1, 2)));
