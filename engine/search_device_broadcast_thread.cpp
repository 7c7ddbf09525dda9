#include "search_device_broadcast_thread.h"

#include "broadcast_reply.h"
#include "find_device_dispatch.h"
#include "search_log.h"
#include "wire_protocol.h"

#include <cstring>

namespace asio = boost::asio;
using asio::ip::udp;

DHCPPACKET DefaultSearchPacket()
{
    DHCPPACKET packet;
    std::memset(&packet, 0, sizeof packet);
    packet.op = DHCPPACKET_OP_SEARCH;
    packet.type = 1;
    std::memset(packet.mask, 0xFF, sizeof packet.mask);
    return packet;
}

void CSearchDeviceBroadcastThread::CreateWorkThread()
{
    try {
        WriteSearchLog("SendThread %d : Create Search Device Work Thread ", nPort);
        OpenSocket();
        sock.set_option(asio::socket_base::broadcast(true));
        sock.bind(udp::endpoint(asio::ip::address_v4::any(), static_cast<unsigned short>(nPort)));
        StartReceiveThread();
    } catch (const std::exception& error) {
        CloseSocketAfterFailure();
        WriteSearchLog("SendThread %d : Create Search Device Work Thread Error : %s   ", nPort, error.what());
    }
}

int CSearchDeviceBroadcastThread::SendSearchCommand(void* pdhcp)
{
    DHCPPACKET defaultPacket = DefaultSearchPacket();
    const void* packet = pdhcp != nullptr ? pdhcp : &defaultPacket;
    try {
        WriteSearchLog("SendThread %d : Send Broadcast Search Command  ", nPort);
        sock.send_to(asio::buffer(packet, DHCPPACKET_SIZE),
                     udp::endpoint(asio::ip::make_address_v4(wire::kBroadcastAddress), wire::kBroadcastReplyPort));
    } catch (const std::exception& error) {
        WriteSearchLog("SendThread %d : Send Broadcast Search Error : %s   ", nPort, error.what());
    }
    return 0;
}

void CSearchDeviceBroadcastThread::HandleReceiveInfo(const char* pData, int nLen, std::string& strSender)
{
    if (nLen != DHCPPACKET_SIZE) return;
    WriteSearchLog("SendThread %d : Handle Broadcast Recive Information  ", nPort);

    deviceinfo device;
    unsigned char reply[DHCPPACKET_SIZE];
    std::memcpy(reply, pData, sizeof reply);
    if (reply[0] != DHCPPACKET_OP_REPLY) {
        WriteSearchLog("SendThread %d : Recive IP : %s is not Device ", nPort, strSender.c_str());
        return;
    }
    std::strncpy(device.ip, strSender.c_str(), sizeof device.ip - 1);
    ParseBroadcastReply(reply, device);

    if (!RememberIfNewDevice(device)) {
        WriteSearchLog("SendThread %d : Handle Broadcast Recive Information Fail ", nPort);
        return;
    }
    WriteSearchLog("SendThread %d : Handle Broadcast Recive Information Success ", nPort);
    HandleFindDevice(&device, sizeof device, nPort);
}
