#include "search_device_multicast_thread.h"

#include "engine/wire/log_texts.h"
#include "engine/wire/wire_protocol.h"
#include "find_device_dispatch.h"
#include "ssdp_message.h"

namespace asio = boost::asio;
using asio::ip::udp;

void CSearchDeviceMulticastThread::CreateWorkThread()
{
    WriteLog(LOGTEXT_CREATE);
    if (!SetUpSocket(SocketRole::GroupMember) && bTestCreate) HandleCreateWorkThreadError();
}

void CSearchDeviceMulticastThread::ExitWorkThread()
{
    AlterMulticastGroup(false);
    CSearchDeviceThread::ExitWorkThread();
}

int CSearchDeviceMulticastThread::SendSearchCommand(void* /*pdhcp*/)
{
    WriteLog(LOGTEXT_SEND_SEARCH);
    try {
        sock.send_to(asio::buffer(wire::MSearchRequest, wire::kMSearchRequestSize),
                     udp::endpoint(asio::ip::make_address_v4(wire::kMulticastGroup), wire::kMulticastPort));
    } catch (const std::exception& error) {
        WriteLog(LOGTEXT_SEND_SEARCH_ERROR, error.what());
    }
    return 0;
}

void CSearchDeviceMulticastThread::HandleReceiveInfo(const char* pData, int nLen, std::string& strSender)
{
    WriteLog(LOGTEXT_HANDLE_MULTICAST);
    deviceinfo device;
    if (!ParseSsdpMessage(pData, static_cast<size_t>(nLen), strSender.c_str(), device)) return;

    if (!RememberIfNewDevice(device)) {
        // A repeat is suppressed once; forgetting it lets the next one through.
        ClearDevice();
        WriteLog(LOGTEXT_MULTICAST_OLD, device.type);
        return;
    }
    WriteLog(LOGTEXT_MULTICAST_NEW, device.type);
    HandleFindDevice(&device, sizeof device, nPort);
}

void CSearchDeviceMulticastThread::HandleCreateWorkThreadError()
{
    WriteLog(LOGTEXT_RETRY_ERROR);
    if (testCount >= wire::kMaxPortRetries || nPort >= wire::kHighestPort) return;
    ++testCount;
    ++nPort;
    WriteLog(LOGTEXT_RETRY, testCount, nPort);
    CreateWorkThread();
}
