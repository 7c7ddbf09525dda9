#include "search_manager.h"

#include "find_device_dispatch.h"
#include "search_device_broadcast_thread.h"
#include "search_device_multicast_thread.h"
#include "search_device_multicommand_thread.h"
#include "search_log.h"
#include "wire_protocol.h"

#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

bool g_bMultiCommand = false;
std::vector<IPANDSEARCHTHREAD> g_searchThreads;
int g_nextCommandPort = wire::kFirstCommandPort;

namespace {

// Whether workers are running: between a start and a stop.
bool g_bSearching = false;

// At exit, a stopped engine's workers are freed (a running engine's are left
// to the process's end: their threads may still use them). Declared after
// g_searchThreads, so it runs before the list is destroyed.
struct ReleaseWorkersAtExit {
    ~ReleaseWorkersAtExit() { ReleaseStoppedWorkers(); }
} g_releaseWorkersAtExit;

void AppendWorker(const std::string& ip, CSearchDeviceThread* worker)
{
    IPANDSEARCHTHREAD entry;
    entry.setvalue(ip, worker);
    g_searchThreads.push_back(entry);
}

}  // namespace

bool SearchIsRunning() { return g_bSearching; }

void ReleaseStoppedWorkers()
{
    if (g_bSearching) return;
    for (IPANDSEARCHTHREAD& entry : g_searchThreads) {
        if (entry.pSearchThread->WaitUntilReceiveEnded(std::chrono::seconds(5))) delete entry.pSearchThread;
    }
    g_searchThreads.clear();
    g_nextCommandPort = wire::kFirstCommandPort;
}

int InitSearchManager(FindDeviceCallback callback, bool bMultiCommand)
{
    if (g_bSearching) return 0;  // a second set of workers would fight the first for its ports
    ReleaseStoppedWorkers();
    SetFindDeviceCallback(callback);
    g_bMultiCommand = bMultiCommand;
    g_bSearching = true;
    CreateSearchThreads(bMultiCommand);
    return 0;
}

void CreateSearchThreads(bool bMultiCommand)
{
    CSearchDeviceThread* broadcastWorker = new CSearchDeviceBroadcastThread;
    broadcastWorker->InitThreadValue(nullptr, wire::kBroadcastSearchPort, false);
    AppendWorker("", broadcastWorker);

    // Without per-address workers the multicast worker may move to a free port.
    CSearchDeviceThread* multicastWorker = new CSearchDeviceMulticastThread;
    multicastWorker->InitThreadValue(nullptr, wire::kMulticastPort, !bMultiCommand);
    AppendWorker("", multicastWorker);

    if (bMultiCommand) UpdateMultiCommandThreads();
}

void GetLocalIPList(std::vector<std::string>& ipList)
{
    ipList.clear();
    WriteSearchLog("Get Current Local IP Info ");
    ifaddrs* interfaces = nullptr;
    if (getifaddrs(&interfaces) != 0) {
        WriteSearchLog("Add To Mulitcast Group Error : %s   ", std::strerror(errno));
        return;
    }
    for (const ifaddrs* entry = interfaces; entry != nullptr; entry = entry->ifa_next) {
        if (entry->ifa_addr == nullptr || entry->ifa_addr->sa_family != AF_INET) continue;
        if (!(entry->ifa_flags & IFF_UP) || (entry->ifa_flags & IFF_LOOPBACK)) continue;
        const in_addr& address = reinterpret_cast<const sockaddr_in*>(entry->ifa_addr)->sin_addr;
        std::string text = boost::asio::ip::address_v4(ntohl(address.s_addr)).to_string();
        ipList.push_back(text);
        WriteSearchLog("Get Current Local IP, IP = %s  ", text.c_str());
    }
    freeifaddrs(interfaces);
}

void UpdateMultiCommandThreads()
{
    std::vector<std::string> ipList;
    GetLocalIPList(ipList);
    for (const std::string& ip : ipList) {
        bool known = std::any_of(g_searchThreads.begin(), g_searchThreads.end(),
                                 [&](const IPANDSEARCHTHREAD& entry) { return entry.strIP == ip; });
        if (known) continue;
        CSearchDeviceThread* worker = new CSearchDeviceMultiCommandThead;
        worker->InitThreadValue(ip.c_str(), g_nextCommandPort, true);
        AppendWorker(ip, worker);
        g_nextCommandPort += wire::kCommandPortStep;
    }
}

int SendSearchMessage(void* packet)
{
    if (!g_bSearching) return 0;
    if (g_bMultiCommand) UpdateMultiCommandThreads();
    for (IPANDSEARCHTHREAD& entry : g_searchThreads) {
        entry.pSearchThread->ClearDevice();
        entry.pSearchThread->SendSearchCommand(packet);
    }
    return 0;
}

void ExitSearchThreads()
{
    if (!g_bSearching) return;
    for (IPANDSEARCHTHREAD& entry : g_searchThreads) entry.pSearchThread->ExitWorkThread();
    // Waits only for a callback already running, never for a receive thread.
    SetFindDeviceCallback(nullptr);
    g_bSearching = false;
}
