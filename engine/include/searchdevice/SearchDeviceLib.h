/* The discovery engine's call interface.
 *
 * An application calls InitSearchDeviceLib once, SendMessage for each search
 * pass and UninitSearchDeviceLib at the end, all from one thread. Found
 * devices reach the callback on the engine's receive threads, one report at a
 * time. Every result is 0 and no C++ exception leaves the three calls: the
 * engine reports its troubles only in its log. */
#ifndef SEARCHDEVICE_SEARCHDEVICELIB_H
#define SEARCHDEVICE_SEARCHDEVICELIB_H

#include "deviceinfo.h"
#include "dhcppacket.h"

#ifdef __cplusplus
extern "C" {
#else
#include <stdbool.h>
#endif

#if defined(SEARCHDEVICE_BUILDING_LIBRARY)
#define SEARCHDEVICE_API __attribute__((visibility("default")))
#else
#define SEARCHDEVICE_API
#endif

/* Receives a copy of a found device's record (a deviceinfo) that lives only
 * for the call, and the port of the worker that found it. Runs on an engine
 * thread with the engine's report lock held: it must not wait for the engine.
 * The result is ignored. */
typedef void* (*FindDeviceCallback)(void* pDevice, int nSearchPort);

/* Opens the log (bLog and a logDir ending in '/'), stores the callback and
 * starts the search workers: broadcast, multicast and, with bMultiCommand,
 * one per local IPv4 address. A second call while running changes nothing. */
SEARCHDEVICE_API int InitSearchDeviceLib(FindDeviceCallback callback, bool bLog, void* logDir, bool bMultiCommand);

/* Runs one search pass with the 148-byte DHCPPACKET at pdhcp, or with the
 * default search packet when pdhcp is null. */
SEARCHDEVICE_API int SendMessage(void* pdhcp);

/* Stops every worker and closes the log. No callback starts after it returns. */
SEARCHDEVICE_API void UninitSearchDeviceLib(void);

#ifdef __cplusplus
}
#endif

#endif
