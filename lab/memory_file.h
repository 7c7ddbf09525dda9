// Files that live in memory only (memfd), for handing a configuration to a
// program the lab starts, or taking its output, without a file on disk: each
// is gone when its descriptor is closed and the program has ended.
#pragma once

#include <string>

namespace netlab {

// A close-on-exec memory file holding `content`; its descriptor. Throws
// std::runtime_error when none can be made.
int MemoryFile(const char* name, const std::string& content);

// The path by which another process of the machine opens it while this one
// holds it open: /proc/PID/fd/FD.
std::string MemoryFilePath(int fd);

// Everything written into it so far.
std::string ReadMemoryFile(int fd);

}  // namespace netlab
