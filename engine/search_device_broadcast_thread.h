// The broadcast search worker: sends the 148-byte search datagram to the
// limited broadcast address from port 67 and reports every device whose
// 148-byte reply differs from the last one it reported.
#pragma once

#include "search_device_thread.h"

class CSearchDeviceBroadcastThread : public CSearchDeviceThread {
public:
    // Opens the socket with broadcasting allowed, binds 0.0.0.0:nPort, starts
    // the receive thread; or takes the socket of nPort the program was handed,
    // bound already. A failure is logged; there is no retry.
    void CreateWorkThread() override;

    // Sends the first 148 bytes at pdhcp (DefaultSearchPacket() when null) to
    // 255.255.255.255 port 68. Always 0; a failure is logged.
    int SendSearchCommand(void* pdhcp) override;

    // Takes 148-byte replies with op code 12 from an address a device can
    // have; anything else is ignored.
    void HandleReceiveInfo(const char* pData, int nLen, std::string& strSender) override;
};
