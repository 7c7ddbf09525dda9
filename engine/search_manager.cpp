#include "search_manager.h"

#include "engine/wire/log_texts.h"
#include "engine/wire/wire_protocol.h"
#include "find_device_dispatch.h"
#include "log/search_log.h"
#include "search_device_broadcast_thread.h"
#include "search_device_multicast_thread.h"
#include "search_device_multicommand_thread.h"

#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>

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

// Makes a worker for ip ("" for none) on port and appends it. A worker that
// cannot be made (its I/O service needs descriptors, the entry memory) is
// logged and left out, so the search goes on with the others and a later
// pass tries again; false then.
template <typename Worker>
bool AddWorker(const std::string& ip, int port, bool bTestCreate)
{
    std::unique_ptr<CSearchDeviceThread> worker;
    try {
        worker = std::make_unique<Worker>();
        worker->InitThreadValue(ip.empty() ? nullptr : ip.c_str(), port, bTestCreate);
        IPANDSEARCHTHREAD entry;
        entry.setvalue(ip, worker.get());
        g_searchThreads.push_back(entry);
    } catch (const std::exception& error) {
        WriteSearchLog(LOGTEXT_NO_WORKER, port, ip.c_str(),
                       error.what());
        return false;
    }
    worker.release();
    return true;
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
    AddWorker<CSearchDeviceBroadcastThread>("", wire::kBroadcastSearchPort, false);
    // Without per-address workers the multicast worker may move to a free port.
    AddWorker<CSearchDeviceMulticastThread>("", wire::kMulticastPort, !bMultiCommand);

    if (bMultiCommand) UpdateMultiCommandThreads();
}

void GetLocalIPList(std::vector<std::string>& ipList)
{
    ipList.clear();
    WriteSearchLog(LOGTEXT_LOCAL_ADDRESSES);
    ifaddrs* interfaces = nullptr;
    if (getifaddrs(&interfaces) != 0) {
        WriteSearchLog(LOGTEXT_LOCAL_ADDRESSES_ERROR, std::strerror(errno));
        return;
    }
    for (const ifaddrs* entry = interfaces; entry != nullptr; entry = entry->ifa_next) {
        if (entry->ifa_addr == nullptr || entry->ifa_addr->sa_family != AF_INET) continue;
        if (!(entry->ifa_flags & IFF_UP) || (entry->ifa_flags & IFF_LOOPBACK)) continue;
        const in_addr& address = reinterpret_cast<const sockaddr_in*>(entry->ifa_addr)->sin_addr;
        std::string text = boost::asio::ip::address_v4(ntohl(address.s_addr)).to_string();
        ipList.push_back(text);
        WriteSearchLog(LOGTEXT_LOCAL_ADDRESS, text.c_str());
    }
    freeifaddrs(interfaces);
}

void UpdateMultiCommandThreads()
{
    std::vector<std::string> ipList;
    GetLocalIPList(ipList);
    int withoutPort = 0;
    for (const std::string& ip : ipList) {
        bool known = std::any_of(g_searchThreads.begin(), g_searchThreads.end(),
                                 [&](const IPANDSEARCHTHREAD& entry) { return entry.strIP == ip; });
        if (known) continue;
        if (g_nextCommandPort > wire::kHighestPort) {
            ++withoutPort;
            continue;
        }
        if (AddWorker<CSearchDeviceMultiCommandThead>(ip, g_nextCommandPort, true))
            g_nextCommandPort += wire::kCommandPortStep;
    }
    if (withoutPort > 0)
        WriteSearchLog(LOGTEXT_PORTS_USED_UP, wire::kHighestPort,
                       withoutPort);
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
