// The search manager: the process-wide list of search workers behind the
// call interface, and the passes that run over it.
//
// Only the interface's three calls, all on the application's thread, read or
// change the state below, so it needs no lock.
#pragma once

#include "search_device_thread.h"

#include <searchdevice/SearchDeviceLib.h>

#include <string>
#include <vector>

// One worker and the local address it serves (empty for the broadcast and
// multicast workers). Copies share the worker; the entry never owns it.
struct IPANDSEARCHTHREAD {
    std::string strIP;
    CSearchDeviceThread* pSearchThread = nullptr;

    void setvalue(std::string ip, CSearchDeviceThread* searchThread)
    {
        strIP = std::move(ip);
        pSearchThread = searchThread;
    }
};

// Whether per-address workers are wanted; set when the engine starts.
extern bool g_bMultiCommand;
// Every worker of the running engine, in creation order: broadcast,
// multicast, then one per local address. Entries are only appended.
extern std::vector<IPANDSEARCHTHREAD> g_searchThreads;
// The port of the next per-address worker: 1530, then 20 more for each made.
extern int g_nextCommandPort;

// Whether the engine runs: started and not stopped since.
bool SearchIsRunning();

// Frees the workers of a stopped engine once their receive threads have
// ended, so that it can be started again with a fresh list. A worker whose
// thread does not end in time is left allocated rather than freed under it.
void ReleaseStoppedWorkers();

// Stores the callback and creates the workers. 0 always; a second start while
// the engine runs changes nothing.
int InitSearchManager(FindDeviceCallback callback, bool bMultiCommand);

// Broadcast worker on 67, multicast worker on 1900, then per-address workers.
// A worker that cannot be made is logged and left out.
void CreateSearchThreads(bool bMultiCommand);

// Fills the list with the machine's IPv4 addresses, in the system's order:
// interfaces that are up and not loopback.
void GetLocalIPList(std::vector<std::string>& ipList);

// Gives every local address that has no worker yet a per-address worker,
// while ports last (up to 65535). A worker that cannot be made is logged and
// left out, and takes no port: the next pass tries again.
void UpdateMultiCommandThreads();

// One pass: new addresses first, then ClearDevice and SendSearchCommand on
// every worker in list order, with packet (a DHCPPACKET, or null for the
// default one). Does nothing unless the engine runs. 0 always.
int SendSearchMessage(void* packet);

// Stops every worker without waiting for its receive thread, and makes sure
// no report reaches the callback afterwards.
void ExitSearchThreads();
