// The SSDP-style multicast search worker: a member of the private group
// 239.143.255.250, it sends M-SEARCH to the group on every pass and reports
// the answers and announcements that carry the device firmware token.
#pragma once

#include "search_device_thread.h"

class CSearchDeviceMulticastThread : public CSearchDeviceThread {
public:
    // Opens the socket, joins the group, binds 0.0.0.0:nPort and starts the
    // receive thread. With bTestCreate a failure moves on to the next port.
    void CreateWorkThread() override;

    // Leaves the group, then stops as every worker does.
    void ExitWorkThread() override;

    // Sends the M-SEARCH request to the group; pdhcp is not used. Always 0.
    int SendSearchCommand(void* pdhcp) override;

    // Parses one answer or announcement and reports it unless it repeats the
    // last report; a repeat is suppressed once and forgotten.
    void HandleReceiveInfo(const char* pData, int nLen, std::string& strSender) override;

protected:
    // After a failed creation: one port up and another try, at most
    // wire::kMaxPortRetries times over the worker's life and never past 65535.
    void HandleCreateWorkThreadError();
};
