// The per-address search worker: sends the same M-SEARCH as the multicast
// worker, but from a socket bound to one local address and its own port, so
// the request leaves through that address's network card and the answers
// come back to it alone. It joins no group and so never sees announcements.
// The class name, "Thead" included, is fixed: logs and callers know it so.
#pragma once

#include "search_device_multicast_thread.h"

class CSearchDeviceMultiCommandThead : public CSearchDeviceMulticastThread {
public:
    // Opens the socket and binds strIP:nPort (the wildcard address when strIP
    // is empty), then starts the receive thread. With bTestCreate a failure
    // moves on to the next port.
    void CreateWorkThread() override;

    // Stops as every worker does: there is no group to leave.
    void ExitWorkThread() override;
};
