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

#include "annotated_mutex.h"

#include <searchdevice/SearchDeviceLib.h>

#include <mutex>
#include <vector>

struct DeviceStore {
    // Not recursive: no operation takes it twice.
    AnnotatedMutex<std::mutex> mutex;
    // In order of first appearance, one entry per ip.
    std::vector<deviceinfo> devices GUARDED_BY(mutex);
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

// 'a' to 'z' to capitals in place; every other byte stays.
void ToUpperAscii(char* text);
