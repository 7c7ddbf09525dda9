// The engine's C call interface: the only symbols the library exports.
#include <searchdevice/SearchDeviceLib.h>

#include "search_device_broadcast_thread.h"
#include "search_log.h"
#include "search_manager.h"

int InitSearchDeviceLib(FindDeviceCallback callback, bool bLog, void* logDir, bool bMultiCommand)
{
    // A second start changes nothing, the log included: the workers are writing to it.
    if (SearchIsRunning()) return 0;
    // The stopped workers' threads may still write their last lines.
    ReleaseStoppedWorkers();
    OpenSearchLog(bLog, static_cast<const char*>(logDir));
    return InitSearchManager(callback, bMultiCommand);
}

int SendMessage(void* pdhcp)
{
    if (pdhcp != nullptr) {
        WriteSearchLog("SendMessage : pdhcp is not NULL ");
        return SendSearchMessage(pdhcp);
    }
    WriteSearchLog("SendMessage : pdhcp is NULL ");
    DHCPPACKET packet = DefaultSearchPacket();
    return SendSearchMessage(&packet);
}

void UninitSearchDeviceLib(void)
{
    ExitSearchThreads();
    CloseSearchLog();
}
