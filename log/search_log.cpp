#include "search_log.h"

#include <boost/date_time/posix_time/posix_time.hpp>

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>

namespace {

constexpr size_t kLineBufferSize = 1024;  // a line is at most 1023 characters
constexpr size_t kPathBufferSize = 4096;
constexpr size_t kFileNameBufferSize = 64;
constexpr char kFileNameSuffix[] = "SearchDeviceLog.txt";
constexpr char kStartBanner[] = "------Start Log System-------\r\n";
constexpr char kExitBanner[] = "------Exit Log System-------\r\n";

// Written only by OpenSearchLog, before any worker thread exists.
bool g_logEnabled = false;
char g_logPath[kPathBufferSize];

bool LogIsArmed() { return g_logEnabled && g_logPath[0] != '\0'; }

// Appends `length` bytes to the log file with one write; false when it cannot be opened.
bool AppendToLogFile(const char* text, size_t length)
{
    FILE* file = std::fopen(g_logPath, "a+");
    if (file == nullptr) return false;
    std::fwrite(text, 1, length, file);
    std::fclose(file);
    return true;
}

void EchoToStandardOutput(const char* line, size_t length)
{
    std::fwrite(line, 1, length, stdout);
    std::fflush(stdout);
}

// Formats into `buffer`; the length, or 0 for a message that is empty,
// fails to format or would not fit in 1023 characters.
size_t FormatMessage(char (&buffer)[kLineBufferSize], const char* format, va_list arguments)
{
    int length = std::vsnprintf(buffer, sizeof buffer, format, arguments);
    if (length <= 0 || static_cast<size_t>(length) >= sizeof buffer) return 0;
    return static_cast<size_t>(length);
}

void WriteLine(const char* line, size_t length)
{
    AppendToLogFile(line, length);
    EchoToStandardOutput(line, length);
}

}  // namespace

int OpenSearchLog(bool enable, const char* directory)
{
    g_logEnabled = enable;
    std::memset(g_logPath, 0, sizeof g_logPath);
    if (!enable || directory == nullptr) return 0;

    std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char fileName[kFileNameBufferSize];
    std::snprintf(fileName, sizeof fileName, "%02d-%02d-%02d-%s", local.tm_year + 1900, local.tm_mon + 1,
                  local.tm_mday, kFileNameSuffix);

    // A truncated path would put the log somewhere nobody asked for: leave it off.
    size_t directoryLength = std::strlen(directory);
    if (directoryLength + std::strlen(fileName) >= sizeof g_logPath) return 0;
    std::memcpy(g_logPath, directory, directoryLength);
    std::strcpy(g_logPath + directoryLength, fileName);

    AppendToLogFile(kStartBanner, sizeof kStartBanner - 1);
    return 1;
}

int WriteSearchLog(const char* format, ...)
{
    if (!LogIsArmed() || format == nullptr) return 0;

    char message[kLineBufferSize];
    va_list arguments;
    va_start(arguments, format);
    size_t messageLength = FormatMessage(message, format, arguments);
    va_end(arguments);
    if (messageLength == 0) return 0;

    std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char line[kLineBufferSize];
    int lineLength = std::snprintf(line, sizeof line, "%s*[%02d::%02d:%02d:%02d]\r\n", message, local.tm_mday,
                                   local.tm_hour, local.tm_min, local.tm_sec);
    if (lineLength <= 0 || static_cast<size_t>(lineLength) >= sizeof line) return 0;

    WriteLine(line, static_cast<size_t>(lineLength));
    return 1;
}

void CloseSearchLog()
{
    if (!LogIsArmed()) return;
    AppendToLogFile(kExitBanner, sizeof kExitBanner - 1);
}

int WriteSearchLogAt(const char* label, const char* location, int number, const char* message)
{
    if (!LogIsArmed() || label == nullptr || location == nullptr || message == nullptr) return 0;

    FILE* file = std::fopen(g_logPath, "a+");
    if (file == nullptr) return 0;
    char line[kLineBufferSize];
    int length = std::snprintf(line, sizeof line, "[%s]:%s(%d): %s\r\n", label, location, number, message);
    if (length <= 0 || static_cast<size_t>(length) >= sizeof line) {
        std::fclose(file);
        return 0;
    }
    std::fwrite(line, 1, static_cast<size_t>(length), file);
    std::fclose(file);
    return 1;
}

int WriteSearchLogStamped(const char* format, ...)
{
    if (!LogIsArmed() || format == nullptr) return 0;

    char message[kLineBufferSize];
    va_list arguments;
    va_start(arguments, format);
    size_t messageLength = FormatMessage(message, format, arguments);
    va_end(arguments);
    if (messageLength == 0) return 0;

    // "2026-03-07T14:05:09.123456" without its date: the fraction only when not zero.
    std::string stamp = boost::posix_time::to_iso_extended_string(boost::posix_time::microsec_clock::local_time());
    std::string::size_type dateEnd = stamp.find('T');
    const char* timeOfDay = dateEnd == std::string::npos ? stamp.c_str() : stamp.c_str() + dateEnd + 1;

    char line[kLineBufferSize];
    int lineLength = std::snprintf(line, sizeof line, "[--%s--]*%s\r\n", timeOfDay, message);
    if (lineLength <= 0 || static_cast<size_t>(lineLength) >= sizeof line) return 0;

    WriteLine(line, static_cast<size_t>(lineLength));
    return 1;
}
