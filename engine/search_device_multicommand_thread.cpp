#include "search_device_multicommand_thread.h"

#include "engine/wire/log_texts.h"
void CSearchDeviceMultiCommandThead::CreateWorkThread()
{
    WriteLog(LOGTEXT_CREATE);
    if (!SetUpSocket(SocketRole::BoundToAddress) && bTestCreate) HandleCreateWorkThreadError();
}

void CSearchDeviceMultiCommandThead::ExitWorkThread() { CSearchDeviceThread::ExitWorkThread(); }
