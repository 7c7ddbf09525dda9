#include "find_device_dispatch.h"

#include "search_log.h"

boost::mutex g_findDeviceMutex;
FindDeviceCallback g_findDeviceCallback = nullptr;

void SetFindDeviceCallback(FindDeviceCallback callback)
{
    boost::mutex::scoped_lock lock(g_findDeviceMutex);
    g_findDeviceCallback = callback;
}

void HandleFindDevice(void* pDevice, int /*nSize*/, int nSearchPort)
{
    WriteSearchLog("Handle %d : Search %d Thread Find Device and wait for mutex  ", nSearchPort, nSearchPort);
    boost::mutex::scoped_lock lock(g_findDeviceMutex);
    WriteSearchLog("Handle %d : Search %d Thread Find Device have Mutex  ", nSearchPort, nSearchPort);

    deviceinfo device = *static_cast<const deviceinfo*>(pDevice);
    WriteSearchLog("Handle %d : Search %d Thread Find Device ID : %.32s, IP : %.32s  ", nSearchPort, nSearchPort,
                   device.id, device.ip);
    if (g_findDeviceCallback == nullptr) return;  // engine not started, or stopped: nobody to tell
    g_findDeviceCallback(&device, nSearchPort);
    WriteSearchLog("Handle %d : Search %d Thread Find Device Success Handle  ", nSearchPort, nSearchPort);
}
