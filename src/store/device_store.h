// The front end's side of the discovery engine: one locked list of the
// devices the engine reported, at most one entry per address, admitting only
// the listed vendors. The window and nasscout-cli both read devices only
// through it; it has no Qt dependency.
//
// Threads: DeviceStoreCallback, AddDevice and RemoveDevice run on engine
// receive threads, always inside the engine's report lock; the other
// operations run on the application's thread.
// Lock order: the engine's report lock, then DeviceStore::eventMutex, then
// DeviceStore::mutex, never the other way. No operation calls the engine,
// the observer or the application callback while holding DeviceStore::mutex.
#pragma once

#include "device_list.h"
#include "engine/sync/annotated_mutex.h"

#include <searchdevice/SearchDeviceLib.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

// What a change did to the list. An identical report only refreshes the
// lifetime and is no event.
enum class StoreEvent {
    Appended,  // a new ip: the entry appended
    Replaced,  // a known ip, another record: the entry as it is now, in its old place
    ByeBye,    // the entry the device's bye-bye removed
    AgedOut,   // an entry an ageing pass removed, with the lifetime it had
    Cleared,   // ClearDeviceList: one per entry, in list order
};

// Called with each event and a copy of the entry, after the change, outside
// DeviceStore::mutex and on the thread that made the change: an engine
// receive thread, inside the engine's report lock, for a report (before the
// application callback); the caller's for ageing and clearing. Calls are
// never concurrent and come in the order of the changes. It may read the
// store (CopyDeviceList) but must not change it, call the engine or throw.
using StoreObserver = std::function<void(StoreEvent event, deviceinfo entry)>;

// deviceinfo.type of a record the DNS-SD source made: a report kind the
// engine never sends. Such an entry is never aged: it leaves when the source
// says its host left.
constexpr int32_t kDnssdHostType = 16;

// The most devices the list holds: far above any real network (the
// benchmarks run 4000), and a bound on what a flood of answers from made-up
// devices can cost. Reports of further addresses are turned away and counted.
constexpr std::size_t kMostListedDevices = 16384;

struct DeviceStore {
    // Held from a change until its events are delivered, so the observer
    // sees the changes of all threads in the order they were made.
    AnnotatedMutex<std::mutex> eventMutex ACQUIRED_BEFORE(mutex);
    // Not recursive: no operation takes it twice.
    AnnotatedMutex<std::mutex> mutex;
    // In order of first appearance, one entry per ip; at most kMostListedDevices.
    DeviceList devices GUARDED_BY(mutex);
    // Reports of new addresses turned away because the list was full.
    std::uint64_t turnedAway GUARDED_BY(mutex) = 0;
    // Written before the engine starts; read-only while it runs.
    FindDeviceCallback applicationCallback = nullptr;
    // May be empty. Written before the engine starts and while nobody ages or
    // clears the list; read-only otherwise.
    StoreObserver observer;
    // Whether AddDevice prints its vendor line. Written before the engine
    // starts; read-only while it runs.
    bool printsVendorLines = true;
    // Whether AddDevice admits every vendor, not only the listed ones
    // (--all-makes). Written before the engine starts; read-only while it runs.
    bool admitsEveryVendor = false;
    // Every host the DNS-SD source knows, by ip. Listed unless a record of
    // the engine holds its address; shown again when that record goes.
    std::map<std::string, deviceinfo, std::less<>> dnssdHosts GUARDED_BY(mutex);
};

// The one store, created on first use (thread-safe) and destroyed at exit.
// An engine the store started and nobody stopped is stopped first, so no
// receive thread can reach a destroyed store.
DeviceStore* GetDeviceStore();

// Remembers the application callback (may be null) and starts the engine with
// DeviceStoreCallback. The result of InitSearchDeviceLib. A second start while
// the engine runs keeps the first callback: worker threads read it unlocked.
int StartDeviceSearch(DeviceStore* store, FindDeviceCallback applicationCallback, bool bLog, void* logDir,
                      bool bMultiCommand);

// One search pass (SendMessage with pdhcp unchanged). Lists again the hosts
// of the DNS-SD source that a ClearDeviceList took.
int SearchDevices(DeviceStore* store, void* pdhcp);

// Stops the engine (UninitSearchDeviceLib). No report reaches the store after it.
void StopDeviceSearch();

// The engine's callback: adds (types 1 and 2) or removes (type 4) the device,
// then forwards the engine's record to the application callback, if any.
void* DeviceStoreCallback(void* pDevice, int nSearchPort);

// Upper-cases the vendor, prints "\nNewDeviceInfo.factory = %s\n" (unless
// the store prints no vendor lines; the vendor made printable), and keeps the
// record if its vendor is listed: refreshed when identical, replaced in place
// when its ip is known, appended otherwise, unless the list holds
// kMostListedDevices already: then it is turned away and counted. A record
// that cannot be appended for lack of memory is dropped with a line on
// standard error.
//
// The vendor line goes to standard output through a bounded buffer that a
// thread of its own writes: a reader that stalls delays no report, and
// lines that find the buffer full are dropped and counted.
void AddDevice(DeviceStore* store, deviceinfo* device);

// Waits up to `timeout` for the vendor lines printed so far to reach
// standard output; false when its reader did not take them in time.
bool FlushVendorLines(std::chrono::milliseconds timeout);

// What a program waits for its last vendor lines at exit: plenty for a
// reader that keeps up, short enough that a stalled one cannot hold the exit.
constexpr std::chrono::milliseconds kLastVendorLinesWait{500};

// Reports turned away so far because the list was full; the front ends say
// so once.
std::uint64_t DevicesTurnedAway(DeviceStore* store);

// Removes the first entry with the record's id, unless it is a DNS-SD host's.
void RemoveDevice(DeviceStore* store, const deviceinfo* device);

// The DNS-SD source's side, on its own thread (never inside the engine's
// report lock). ShowDnssdHost lists the host (a record of type
// kDnssdHostType) or updates its entry, unless the engine's record of the
// same ip is listed: the engine's record wins, and the host is listed when
// that record goes (bye-bye, ageing). ForgetDnssdHost: the host at `ip` left;
// its entry, if listed, goes with a ByeBye event. Out of memory, the host is
// dropped with a line on standard error.
void ShowDnssdHost(DeviceStore* store, const deviceinfo& host);
void ForgetDnssdHost(DeviceStore* store, const std::string& ip);

// The operations that change the list report each change to the observer
// (StoreEvent says which); AddDevice and RemoveDevice at most one.

// Replaces `destination` with a copy of the list. Out of memory, throws
// std::bad_alloc with the store unlocked and unchanged.
void CopyDeviceList(DeviceStore* store, std::vector<deviceinfo>& destination);

void ClearDeviceList(DeviceStore* store);

// Takes 10 from every lifetime and removes entries that would drop below 46;
// the DNS-SD source's entries are left as they are.
// Out of memory for the copies of the entries it removes, throws
// std::bad_alloc with the store unlocked and unchanged.
void AgeDeviceList(DeviceStore* store);

// 'a' to 'z' to capitals in place; every other byte stays.
void ToUpperAscii(char* text);
