// The front end's side of the discovery engine: one locked list of the
// devices the engine reported, at most one entry per address, admitting only
// the listed vendors. The window and nasscout-cli both read devices only
// through it; it has no Qt dependency.
//
// Threads: DeviceStoreCallback, AddDevice and RemoveDevice run on engine
// receive threads, always inside the engine's report lock; the other
// operations run on the application's thread.
// Lock order: the engine's report lock, then DeviceStore::mutex, never the
// other way. No operation calls the engine or the application callback while
// holding DeviceStore::mutex.
#pragma once

#include <searchdevice/SearchDeviceLib.h>

#include <pthread.h>
#include <semaphore.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <vector>

struct DeviceStore {
    // Guarded by mutex. In order of first appearance, one entry per ip.
    std::vector<deviceinfo> devices;
    // Default (non-recursive): no operation takes it twice.
    pthread_mutex_t mutex;
    // Written before the engine starts; read-only while it runs.
    FindDeviceCallback applicationCallback = nullptr;
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

// One search pass (SendMessage with pdhcp unchanged).
int SearchDevices(DeviceStore* store, void* pdhcp);

// Stops the engine (UninitSearchDeviceLib). No report reaches the store after it.
void StopDeviceSearch();

// The engine's callback: adds (types 1 and 2) or removes (type 4) the device,
// then forwards the engine's record to the application callback, if any.
void* DeviceStoreCallback(void* pDevice, int nSearchPort);

// Upper-cases the vendor, prints "\nNewDeviceInfo.factory = %s\n", and keeps
// the record if its vendor is listed: refreshed when identical, replaced in
// place when its ip is known, appended otherwise. A record that cannot be
// appended for lack of memory is dropped with a line on standard error.
void AddDevice(DeviceStore* store, deviceinfo* device);

// Removes the first entry with the record's id.
void RemoveDevice(DeviceStore* store, const deviceinfo* device);

// Replaces `destination` with a copy of the list. Out of memory, throws
// std::bad_alloc with the store unlocked and unchanged.
void CopyDeviceList(DeviceStore* store, std::vector<deviceinfo>& destination);

void ClearDeviceList(DeviceStore* store);

// Takes 10 from every lifetime and removes entries that would drop below 46.
void AgeDeviceList(DeviceStore* store);

// Forever: a search pass, 10 seconds, an ageing pass.
[[noreturn]] void SearchAndAgeLoop();

// Ends SearchAndAgeUntilStopped. Stop() is async-signal-safe, so a SIGINT or
// SIGTERM handler may call it directly; any thread may call it, any number of
// times. Must outlive the loop it ends.
class SearchAndAgeStop {
public:
    SearchAndAgeStop();
    ~SearchAndAgeStop();
    SearchAndAgeStop(const SearchAndAgeStop&) = delete;
    SearchAndAgeStop& operator=(const SearchAndAgeStop&) = delete;

    void Stop();
    bool Stopped() const;

    // Waits until Stop() or until `period` has passed; true when stopped.
    bool WaitFor(std::chrono::milliseconds period);

private:
    // Stop() only stores the flag and posts: both are safe in a signal handler.
    std::atomic<bool> bStopped_{false};
    sem_t wakeUp_;
};

// SearchAndAgeLoop until `stop` is stopped: a search pass, `period`, an ageing
// pass, then `afterAgeing` (if given; on this thread, outside the store's
// lock), and again. Returns at the latest when the search pass under way has
// ended; no search or ageing starts once the stop is seen.
void SearchAndAgeUntilStopped(SearchAndAgeStop& stop, const std::function<void()>& afterAgeing = nullptr,
                              std::chrono::milliseconds period = std::chrono::seconds(10));

// 'a' to 'z' to capitals in place; every other byte stays.
void ToUpperAscii(char* text);
