#include "search_device_multicast_thread.h"

#include "find_device_dispatch.h"
#include "search_log.h"
#include "ssdp_message.h"
#include "wire_protocol.h"

#include <boost/asio/ip/multicast.hpp>

namespace asio = boost::asio;
using asio::ip::udp;

void CSearchDeviceMulticastThread::CreateWorkThread()
{
    WriteSearchLog("SendThread %d : Create Search Device Work Thread   ", nPort);
    try {
        OpenSocket();
        AlterMulticastGroup(true);
        sock.bind(udp::endpoint(asio::ip::address_v4::any(), static_cast<unsigned short>(nPort)));
        StartReceiveThread();
    } catch (const std::exception& error) {
        CloseSocketAfterFailure();
        WriteSearchLog("SendThread %d : Create Search Device Work Thread Error : %s   ", nPort, error.what());
        if (bTestCreate) HandleCreateWorkThreadError();
    }
}

void CSearchDeviceMulticastThread::ExitWorkThread()
{
    AlterMulticastGroup(false);
    CSearchDeviceThread::ExitWorkThread();
}

int CSearchDeviceMulticastThread::SendSearchCommand(void* /*pdhcp*/)
{
    WriteSearchLog("SendThread %d : Send Search Device Command  ", nPort);
    try {
        sock.send_to(asio::buffer(wire::MSearchRequest, wire::kMSearchRequestSize),
                     udp::endpoint(asio::ip::make_address_v4(wire::kMulticastGroup), wire::kMulticastPort));
    } catch (const std::exception& error) {
        WriteSearchLog("SendThread %d : Send Search Device Error : %s   ", nPort, error.what());
    }
    return 0;
}

void CSearchDeviceMulticastThread::HandleReceiveInfo(const char* pData, int nLen, std::string& strSender)
{
    WriteSearchLog("SendThread %d : Handle Mulitcast Recive Information  ", nPort);
    deviceinfo device;
    if (!ParseSsdpMessage(pData, static_cast<size_t>(nLen), strSender.c_str(), device)) return;

    if (!RememberIfNewDevice(device)) {
        // A repeat is suppressed once; forgetting it lets the next one through.
        ClearDevice();
        WriteSearchLog("SendThread %d : Handle Mulitcast Recive Information Fail : Old Device, type = %d ", nPort,
                       device.type);
        return;
    }
    WriteSearchLog("SendThread %d : Handle Mulitcast Recive Information Success, type = %d ", nPort, device.type);
    HandleFindDevice(&device, sizeof device, nPort);
}

void CSearchDeviceMulticastThread::AlterMulticastGroup(bool join)
{
    try {
        asio::ip::address_v4 group = asio::ip::make_address_v4(wire::kMulticastGroup);
        if (join) {
            sock.set_option(asio::ip::multicast::join_group(group, asio::ip::address_v4::any()));
            WriteSearchLog("SendThread %d : Add To Multicast Group Info ", nPort);
        } else {
            sock.set_option(asio::ip::multicast::leave_group(group, asio::ip::address_v4::any()));
            WriteSearchLog("SendThread %d : Leave To Multicast Group Info ", nPort);
        }
    } catch (const std::exception& error) {
        WriteSearchLog("SendThread %d : Alter Device Mulitcast Group Error : %s  \r\n", nPort, error.what());
    }
}

void CSearchDeviceMulticastThread::HandleCreateWorkThreadError()
{
    WriteSearchLog("SendThread %d : Handle Create Search Device Work Thread Error  ", nPort);
    if (testCount >= wire::kMaxPortRetries) return;
    ++testCount;
    ++nPort;
    WriteSearchLog("SendThread %d : Test Create Search Device Work Thread, testCount = %d, port = %d  ", nPort,
                   testCount, nPort);
    CreateWorkThread();
}
