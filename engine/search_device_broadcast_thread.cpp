#include "search_device_broadcast_thread.h"

#include "broadcast_reply.h"
#include "engine/untrusted/device_address.h"
#include "engine/wire/log_texts.h"
#include "engine/wire/wire_protocol.h"
#include "find_device_dispatch.h"

#include <searchdevice/dhcppacket.h>

#include <cstring>

namespace asio = boost::asio;
using asio::ip::udp;

void CSearchDeviceBroadcastThread::CreateWorkThread()
{
    WriteLog(LOGTEXT_CREATE_BROADCAST);
    SetUpSocket(SocketRole::Broadcast);
}

int CSearchDeviceBroadcastThread::SendSearchCommand(void* pdhcp)
{
    const DHCPPACKET defaultPacket = DefaultSearchPacket();
    const void* packet = pdhcp != nullptr ? pdhcp : &defaultPacket;
    try {
        WriteLog(LOGTEXT_SEND_BROADCAST);
        sock.send_to(asio::buffer(packet, DHCPPACKET_SIZE),
                     udp::endpoint(asio::ip::make_address_v4(wire::kBroadcastAddress), wire::kBroadcastReplyPort));
    } catch (const std::exception& error) {
        WriteLog(LOGTEXT_SEND_BROADCAST_ERROR, error.what());
    }
    return 0;
}

void CSearchDeviceBroadcastThread::HandleReceiveInfo(const char* pData, int nLen, std::string& strSender)
{
    if (nLen != DHCPPACKET_SIZE) return;
    WriteLog(LOGTEXT_HANDLE_BROADCAST);

    deviceinfo device;
    unsigned char reply[DHCPPACKET_SIZE];
    std::memcpy(reply, pData, sizeof reply);
    // A reply from loopback (a program on this machine) names no device to open.
    if (reply[0] != DHCPPACKET_OP_REPLY || !IsDeviceAddress(strSender)) {
        WriteLog(LOGTEXT_NOT_A_DEVICE, strSender.c_str());
        return;
    }
    std::strncpy(device.ip, strSender.c_str(), sizeof device.ip - 1);
    ParseBroadcastReply(reply, device);

    if (!RememberIfNewDevice(device)) {
        WriteLog(LOGTEXT_BROADCAST_OLD);
        return;
    }
    WriteLog(LOGTEXT_BROADCAST_NEW);
    HandleFindDevice(&device, sizeof device, nPort);
}
