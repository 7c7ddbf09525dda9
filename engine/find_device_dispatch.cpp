#include "find_device_dispatch.h"

#include "engine/untrusted/printable_text.h"
#include "engine/wire/log_texts.h"
#include "log/search_log.h"

#include <cstdarg>
#include <cstdio>

AnnotatedMutex<boost::mutex> g_findDeviceMutex;
FindDeviceCallback g_findDeviceCallback = nullptr;

namespace {

// Writes "Handle <port> : Search <port> Thread " and the formatted message to the search log.
void WriteReportLog(int nSearchPort, const char* format, ...) __attribute__((format(printf, 2, 3)));
void WriteReportLog(int nSearchPort, const char* format, ...)
{
    char prefix[64];
    std::snprintf(prefix, sizeof prefix, LOGTEXT_REPORT_PREFIX, nSearchPort, nSearchPort);
    va_list arguments;
    va_start(arguments, format);
    WriteSearchLogAfter(prefix, format, arguments);
    va_end(arguments);
}

// A record's text field as the log may show it: a device's id could
// otherwise drive the terminal that reads the echo, or forge a log line.
struct LoggedText {
    explicit LoggedText(const char (&field)[DEVICEINFO_TEXT_SIZE])
    {
        printable::LineTextInto(printable::Field(field), text);
    }
    char text[printable::kLineTextGrowth * DEVICEINFO_TEXT_SIZE + 1];
};

}  // namespace

void SetFindDeviceCallback(FindDeviceCallback callback)
{
    AnnotatedLock lock(g_findDeviceMutex);
    g_findDeviceCallback = callback;
}

void HandleFindDevice(void* pDevice, int /*nSize*/, int nSearchPort)
{
    WriteReportLog(nSearchPort, LOGTEXT_REPORT_WAIT);
    AnnotatedLock lock(g_findDeviceMutex);
    WriteReportLog(nSearchPort, LOGTEXT_REPORT_LOCKED);

    deviceinfo device = *static_cast<const deviceinfo*>(pDevice);
    if (SearchLogIsArmed()) {
        WriteReportLog(nSearchPort, LOGTEXT_REPORT_DEVICE, LoggedText(device.id).text,
                       LoggedText(device.ip).text);
    }
    if (g_findDeviceCallback == nullptr) return;  // engine not started, or stopped: nobody to tell
    g_findDeviceCallback(&device, nSearchPort);
    WriteReportLog(nSearchPort, LOGTEXT_REPORT_DONE);
}
