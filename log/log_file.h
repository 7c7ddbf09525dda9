// The search log's file, named and opened in one place: by the log for every
// line, and by nasscout-cli to refuse a --log directory before it searches.
#pragma once

#include <cstddef>
#include <ctime>

constexpr std::size_t kSearchLogFileNameSize = 64;

// "2026-03-07-SearchDeviceLog.txt": the local date of `when` and the fixed
// text, by the layout "%02d-%02d-%02d-%s".
void SearchLogFileName(std::time_t when, char (&name)[kSearchLogFileNameSize]);

// Opens the file at `path` for one append, close-on-exec, creating it when it
// is missing. Only a regular file reached by its own name is opened: a
// symbolic link named like the log could point anywhere (ELOOP), and a FIFO
// would block every writer (EINVAL, as for anything but a regular file). The
// descriptor, or -1 with errno set.
int OpenSearchLogFile(const char* path);

// Whether OpenSearchLogFile(path) would open the file: 0, or the errno it
// would fail with. Leaves no file behind: a missing one is tried as an
// unnamed file in its directory, or, where the file system has none, created
// and removed again.
int ProbeSearchLogFile(const char* path);
