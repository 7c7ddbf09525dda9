#include "memory_file.h"

#include <sys/mman.h>
#include <unistd.h>

#include <stdexcept>

namespace netlab {

int MemoryFile(const char* name, const std::string& content)
{
    const int fd = memfd_create(name, MFD_CLOEXEC);
    if (fd < 0) throw std::runtime_error(std::string("cannot create a memory file for ") + name);
    if (write(fd, content.data(), content.size()) != static_cast<ssize_t>(content.size())) {
        close(fd);
        throw std::runtime_error(std::string("cannot fill the memory file for ") + name);
    }
    return fd;
}

std::string MemoryFilePath(int fd) { return "/proc/" + std::to_string(getpid()) + "/fd/" + std::to_string(fd); }

std::string ReadMemoryFile(int fd)
{
    std::string text;
    char buffer[4096];
    off_t offset = 0;
    for (ssize_t got; (got = pread(fd, buffer, sizeof buffer, offset)) > 0; offset += got) text.append(buffer, got);
    return text;
}

}  // namespace netlab
