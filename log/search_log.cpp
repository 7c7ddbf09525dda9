#include "search_log.h"

#include "log_file.h"

#include <boost/date_time/posix_time/posix_time.hpp>

#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cctype>
#include <charconv>
#include <climits>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <mutex>
#include <shared_mutex>
#include <string>

#define SIZE_CAP_VARIABLE "NASSCOUT_LOG_MAX_BYTES"

namespace {

constexpr size_t kLineBufferSize = 1024;  // a line is at most 1023 characters
constexpr size_t kPathBufferSize = 4096;
constexpr char kStartBanner[] = "------Start Log System-------\r\n";
constexpr char kExitBanner[] = "------Exit Log System-------\r\n";

constexpr unsigned long long kDefaultSizeCap = 32ULL << 20;
constexpr char kFullMessage[] =
    "Search log full at its cap of %llu bytes (" SIZE_CAP_VARIABLE "): nothing more goes to this file";
// Kept free below the cap for the line that crosses into it and the one
// that says the file is full, so that the file never passes the cap.
constexpr unsigned long long kCapRoom = 2 * kLineBufferSize;

using LineBuffer = char[kLineBufferSize];

// Written only by OpenSearchLog, before any worker thread exists.
bool g_logEnabled = false;
char g_logPath[kPathBufferSize];
unsigned long long g_sizeCap = 0;             // 0: none
unsigned long long g_fileLimit = ULLONG_MAX;  // a line claimed from here on is not written

// The file's size at the open plus every length claimed since. Claims only
// grow it, so once one is refused every later one is too.
std::atomic<unsigned long long> g_fileBytes{0};
std::atomic<bool> g_fileFull{false};
// Held shared from a claim to the end of its write, and alone to say the
// file is full, so that no line lands after that one.
std::shared_mutex g_fileLock;

std::tm LocalTimeNow()
{
    std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    return local;
}

// Appends `length` bytes to the log file with one write; false when it cannot
// be opened (OpenSearchLogFile: only a regular file reached by its own name).
bool WriteToLogFile(const char* text, size_t length)
{
    const int file = OpenSearchLogFile(g_logPath);
    if (file < 0) return false;
    (void)!write(file, text, length);
    close(file);
    return true;
}

void SayFileIsFull();

// WriteToLogFile while the file is below its cap; false when refused there.
bool AppendToLogFile(const char* text, size_t length)
{
    if (g_fileFull) return false;
    {
        std::shared_lock<std::shared_mutex> writing(g_fileLock);
        if (g_fileBytes.fetch_add(length) < g_fileLimit) return WriteToLogFile(text, length);
    }
    if (!g_fileFull.exchange(true)) SayFileIsFull();
    return false;
}

// The cap from NASSCOUT_LOG_MAX_BYTES: bytes, or with a K, M or G suffix
// (powers of 1024, either case); 0 for none. False when the text is none of these.
bool ParseSizeCap(const char* text, unsigned long long& cap)
{
    const char* end = text + std::strlen(text);
    auto [rest, error] = std::from_chars(text, end, cap);
    if (error != std::errc() || rest == text) return false;
    constexpr char kUnits[] = "KMG";
    const char* unit = rest == end ? nullptr : std::strchr(kUnits, std::toupper(static_cast<unsigned char>(*rest)));
    const int shift = unit == nullptr ? 0 : 10 * static_cast<int>(unit - kUnits + 1);
    if (end - rest != (unit == nullptr ? 0 : 1) || cap > (ULLONG_MAX >> shift)) return false;
    cap <<= shift;
    return true;
}

void EchoToStandardOutput(const char* line, size_t length)
{
    std::fwrite(line, 1, length, stdout);
    std::fflush(stdout);
}

// Formats into `buffer` after the `used` characters already there; the
// length of the whole text, or 0 when it is empty, fails to format or would
// not fit in 1023 characters.
size_t FormatAfter(LineBuffer& buffer, size_t used, const char* format, va_list arguments)
{
    int length = std::vsnprintf(buffer + used, sizeof buffer - used, format, arguments);
    if (length < 0 || used + static_cast<size_t>(length) >= sizeof buffer) return 0;
    return used + static_cast<size_t>(length);
}

size_t Format(LineBuffer& buffer, const char* format, ...) __attribute__((format(printf, 2, 3)));
size_t Format(LineBuffer& buffer, const char* format, ...)
{
    va_list arguments;
    va_start(arguments, format);
    size_t length = FormatAfter(buffer, 0, format, arguments);
    va_end(arguments);
    return length;
}

// How a message is stamped into its line.
enum class Stamp {
    DayAndTime,  // "message*[DD::HH:MM:SS]"
    TimeOfDay,   // "[--HH:MM:SS.ffffff--]*message"
};

size_t StampLine(LineBuffer& line, Stamp stamp, const char* message)
{
    if (stamp == Stamp::DayAndTime) {
        const std::tm local = LocalTimeNow();
        return Format(line, "%s*[%02d::%02d:%02d:%02d]\r\n", message, local.tm_mday, local.tm_hour, local.tm_min,
                      local.tm_sec);
    }
    // "2026-03-07T14:05:09.123456" without its date: the fraction only when not zero.
    std::string clock = boost::posix_time::to_iso_extended_string(boost::posix_time::microsec_clock::local_time());
    std::string::size_type dateEnd = clock.find('T');
    const char* timeOfDay = dateEnd == std::string::npos ? clock.c_str() : clock.c_str() + dateEnd + 1;
    return Format(line, "[--%s--]*%s\r\n", timeOfDay, message);
}

// Every stamped line is made and written here: the prefix and the formatted
// message, stamped, appended to the file and echoed. 1 when a line was written.
int WriteMessage(Stamp stamp, const char* prefix, const char* format, va_list arguments)
{
    if (!SearchLogIsArmed() || format == nullptr) return 0;

    LineBuffer message;
    const size_t prefixLength = std::strlen(prefix);
    if (prefixLength >= sizeof message) return 0;
    std::memcpy(message, prefix, prefixLength);
    const size_t messageLength = FormatAfter(message, prefixLength, format, arguments);
    if (messageLength == 0) return 0;

    LineBuffer line;
    const size_t lineLength = StampLine(line, stamp, message);
    if (lineLength == 0) return 0;
    AppendToLogFile(line, lineLength);
    EchoToStandardOutput(line, lineLength);
    return 1;
}

void SayFileIsFull()
{
    LineBuffer message, line;
    if (Format(message, kFullMessage, g_sizeCap) == 0) return;
    const size_t length = StampLine(line, Stamp::DayAndTime, message);
    if (length == 0) return;
    {
        std::unique_lock<std::shared_mutex> alone(g_fileLock);  // after every line claimed below the limit
        WriteToLogFile(line, length);
    }
    EchoToStandardOutput(line, length);
}

// Reads the cap at the log's start: the file's size and its limit for claims.
// A file an earlier start of the day filled stays as it is.
void SetUpSizeCap()
{
    const char* setting = std::getenv(SIZE_CAP_VARIABLE);
    g_sizeCap = kDefaultSizeCap;
    const bool settingRefused = setting != nullptr && !ParseSizeCap(setting, g_sizeCap);
    if (settingRefused) g_sizeCap = kDefaultSizeCap;
    g_fileLimit = g_sizeCap == 0 ? ULLONG_MAX : g_sizeCap > kCapRoom ? g_sizeCap - kCapRoom : 0;

    struct stat file;
    g_fileBytes = stat(g_logPath, &file) == 0 ? static_cast<unsigned long long>(file.st_size) : 0;
    g_fileFull = g_fileBytes >= g_fileLimit;

    AppendToLogFile(kStartBanner, sizeof kStartBanner - 1);
    if (settingRefused)
        WriteSearchLog(SIZE_CAP_VARIABLE "=%.64s is no size: the cap stays at %llu bytes  ", setting, g_sizeCap);
}

}  // namespace

int OpenSearchLog(bool enable, const char* directory)
{
    g_logEnabled = enable;
    std::memset(g_logPath, 0, sizeof g_logPath);
    if (!enable || directory == nullptr) return 0;

    char fileName[kSearchLogFileNameSize];
    SearchLogFileName(std::time(nullptr), fileName);

    // A truncated path would put the log somewhere nobody asked for: leave it off.
    size_t directoryLength = std::strlen(directory);
    if (directoryLength + std::strlen(fileName) >= sizeof g_logPath) return 0;
    std::memcpy(g_logPath, directory, directoryLength);
    std::strcpy(g_logPath + directoryLength, fileName);

    SetUpSizeCap();
    return 1;
}

int WriteSearchLog(const char* format, ...)
{
    va_list arguments;
    va_start(arguments, format);
    int written = WriteMessage(Stamp::DayAndTime, "", format, arguments);
    va_end(arguments);
    return written;
}

bool SearchLogIsArmed() { return g_logEnabled && g_logPath[0] != '\0'; }

int WriteSearchLogAfter(const char* prefix, const char* format, va_list arguments)
{
    return WriteMessage(Stamp::DayAndTime, prefix, format, arguments);
}

void CloseSearchLog()
{
    if (!SearchLogIsArmed()) return;
    AppendToLogFile(kExitBanner, sizeof kExitBanner - 1);
}

int WriteSearchLogAt(const char* label, const char* location, int number, const char* message)
{
    if (!SearchLogIsArmed() || label == nullptr || location == nullptr || message == nullptr) return 0;

    LineBuffer line;
    const size_t length = Format(line, "[%s]:%s(%d): %s\r\n", label, location, number, message);
    if (length == 0) return 0;
    return AppendToLogFile(line, length) ? 1 : 0;
}

int WriteSearchLogStamped(const char* format, ...)
{
    va_list arguments;
    va_start(arguments, format);
    int written = WriteMessage(Stamp::TimeOfDay, "", format, arguments);
    va_end(arguments);
    return written;
}
