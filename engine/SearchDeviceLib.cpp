// The engine's C call interface: the only symbols the library exports.
#include <searchdevice/SearchDeviceLib.h>

#include "engine/wire/log_texts.h"
#include "log/search_log.h"
#include "search_manager.h"

#include <exception>

namespace {

// An exception must never reach a C caller, who would abort. The manager and
// the workers handle their own failures; this catches what they did not foresee.
template <typename Call>
void Guarded(const char* name, Call call) noexcept
{
    try {
        call();
    } catch (const std::exception& error) {
        WriteSearchLog(LOGTEXT_STOPPED_SHORT, name, error.what());
    } catch (...) {
        WriteSearchLog(LOGTEXT_STOPPED_SHORT, name, "unknown error");
    }
}

}  // namespace

int InitSearchDeviceLib(FindDeviceCallback callback, bool bLog, void* logDir, bool bMultiCommand)
{
    Guarded("InitSearchDeviceLib", [&] {
        // A second start changes nothing, the log included: the workers are writing to it.
        if (SearchIsRunning()) return;
        // The stopped workers' threads may still write their last lines.
        ReleaseStoppedWorkers();
        OpenSearchLog(bLog, static_cast<const char*>(logDir));
        InitSearchManager(callback, bMultiCommand);
    });
    return 0;
}

int SendMessage(void* pdhcp)
{
    Guarded("SendMessage", [&] {
        // Null stays null: the broadcast worker sends the default search packet then.
        if (pdhcp != nullptr)
            WriteSearchLog(LOGTEXT_GIVEN_PACKET);
        else
            WriteSearchLog(LOGTEXT_DEFAULT_PACKET);
        SendSearchMessage(pdhcp);
    });
    return 0;
}

void UninitSearchDeviceLib(void)
{
    Guarded("UninitSearchDeviceLib", [] {
        ExitSearchThreads();
        CloseSearchLog();
    });
}
