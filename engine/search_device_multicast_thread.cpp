#include "search_device_multicast_thread.h"

#include "find_device_dispatch.h"
#include "ssdp_message.h"
#include "wire_protocol.h"

namespace asio = boost::asio;
using asio::ip::udp;

void CSearchDeviceMulticastThread::CreateWorkThread()
{
    WriteLog("Create Search Device Work Thread   ");
    if (!SetUpSocket(SocketRole::GroupMember) && bTestCreate) HandleCreateWorkThreadError();
}

void CSearchDeviceMulticastThread::ExitWorkThread()
{
    AlterMulticastGroup(false);
    CSearchDeviceThread::ExitWorkThread();
}

int CSearchDeviceMulticastThread::SendSearchCommand(void* /*pdhcp*/)
{
    WriteLog("Send Search Device Command  ");
    try {
        sock.send_to(asio::buffer(wire::MSearchRequest, wire::kMSearchRequestSize),
                     udp::endpoint(asio::ip::make_address_v4(wire::kMulticastGroup), wire::kMulticastPort));
    } catch (const std::exception& error) {
        WriteLog("Send Search Device Error : %s   ", error.what());
    }
    return 0;
}

void CSearchDeviceMulticastThread::HandleReceiveInfo(const char* pData, int nLen, std::string& strSender)
{
    WriteLog("Handle Mulitcast Recive Information  ");
    deviceinfo device;
    if (!ParseSsdpMessage(pData, static_cast<size_t>(nLen), strSender.c_str(), device)) return;

    if (!RememberIfNewDevice(device)) {
        // A repeat is suppressed once; forgetting it lets the next one through.
        ClearDevice();
        WriteLog("Handle Mulitcast Recive Information Fail : Old Device, type = %d ", device.type);
        return;
    }
    WriteLog("Handle Mulitcast Recive Information Success, type = %d ", device.type);
    HandleFindDevice(&device, sizeof device, nPort);
}

void CSearchDeviceMulticastThread::HandleCreateWorkThreadError()
{
    WriteLog("Handle Create Search Device Work Thread Error  ");
    if (testCount >= wire::kMaxPortRetries || nPort >= wire::kHighestPort) return;
    ++testCount;
    ++nPort;
    WriteLog("Test Create Search Device Work Thread, testCount = %d, port = %d  ", testCount, nPort);
    CreateWorkThread();
}
