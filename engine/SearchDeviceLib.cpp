// The engine's C call interface: the only symbols the library exports.
#include <searchdevice/SearchDeviceLib.h>

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
    // Null stays null: the broadcast worker sends the default search packet then.
    if (pdhcp != nullptr)
        WriteSearchLog("SendMessage : pdhcp is not NULL ");
    else
        WriteSearchLog("SendMessage : pdhcp is NULL ");
    return SendSearchMessage(pdhcp);
}

void UninitSearchDeviceLib(void)
{
    ExitSearchThreads();
    CloseSearchLog();
}
