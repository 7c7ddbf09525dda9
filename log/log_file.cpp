#include "log_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

namespace {

constexpr char kFileNameSuffix[] = "SearchDeviceLog.txt";
constexpr int kAppendFlags = O_WRONLY | O_APPEND | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;

// The directory part of `path`, with its '/', or "./" when there is none.
std::string DirectoryOf(const char* path)
{
    const char* slash = std::strrchr(path, '/');
    return slash == nullptr ? std::string("./") : std::string(path, static_cast<std::size_t>(slash - path + 1));
}

}  // namespace

void SearchLogFileName(std::time_t when, char (&name)[kSearchLogFileNameSize])
{
    std::tm local{};
    localtime_r(&when, &local);
    std::snprintf(name, sizeof name, "%02d-%02d-%02d-%s", local.tm_year + 1900, local.tm_mon + 1, local.tm_mday,
                  kFileNameSuffix);
}

int OpenSearchLogFile(const char* path)
{
    const int file = open(path, kAppendFlags | O_CREAT, 0666);
    if (file < 0) return -1;
    struct stat opened;
    if (fstat(file, &opened) != 0 || !S_ISREG(opened.st_mode)) {
        close(file);
        errno = EINVAL;
        return -1;
    }
    return file;
}

int ProbeSearchLogFile(const char* path)
{
    struct stat existing;
    if (lstat(path, &existing) == 0) {
        if (S_ISLNK(existing.st_mode)) return ELOOP;
        if (!S_ISREG(existing.st_mode)) return EINVAL;
        return access(path, W_OK) == 0 ? 0 : errno;
    }
    if (errno != ENOENT) return errno;
    const int unnamed = open(DirectoryOf(path).c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600);
    if (unnamed >= 0) {
        close(unnamed);
        return 0;
    }
    if (errno != EOPNOTSUPP && errno != EISDIR) return errno;
    const int created = open(path, kAppendFlags | O_CREAT | O_EXCL, 0666);
    if (created < 0) return errno;
    close(created);
    unlink(path);
    return 0;
}
