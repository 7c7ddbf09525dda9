#include "search_device_multicommand_thread.h"

void CSearchDeviceMultiCommandThead::CreateWorkThread()
{
    WriteLog("Create Search Device Work Thread   ");
    if (!SetUpSocket(SocketRole::BoundToAddress) && bTestCreate) HandleCreateWorkThreadError();
}

void CSearchDeviceMultiCommandThead::ExitWorkThread() { CSearchDeviceThread::ExitWorkThread(); }
