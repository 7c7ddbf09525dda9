// The one way a worker reports a found device to the application.
//
// Reports arrive on every worker's receive thread; g_findDeviceMutex
// serialises them, so the application's callback is never entered twice at
// once and always sees one whole record.
//
// Lock order: g_findDeviceMutex is taken before any lock of the application
// (the device store's), never after, and with none of a worker's own locks
// held; the callback must not report itself or wait for a worker.
#pragma once

#include "engine/sync/annotated_mutex.h"

#include <searchdevice/SearchDeviceLib.h>

#include <boost/thread/mutex.hpp>

// Held for the whole of every report.
extern AnnotatedMutex<boost::mutex> g_findDeviceMutex;

// The application's callback; null before the engine starts and after it
// stops, when reports are dropped.
extern FindDeviceCallback g_findDeviceCallback GUARDED_BY(g_findDeviceMutex);

// Sets or clears the callback. Once it returns, no report reaches the
// previous callback any more: a report in progress has finished.
void SetFindDeviceCallback(FindDeviceCallback callback) EXCLUDES(g_findDeviceMutex);

// Hands a copy of the record at pDevice to the callback, with the reporting
// worker's port. nSize is not used: one whole deviceinfo is always copied.
void HandleFindDevice(void* pDevice, int nSize, int nSearchPort) EXCLUDES(g_findDeviceMutex);
