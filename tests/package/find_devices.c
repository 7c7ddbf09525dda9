/* A program of someone else's that finds NAS devices with the installed
 * engine alone: built by the package check with pkg-config and with
 * find_package(searchdevice). It runs one search pass, prints every device
 * that answers and exits 0 when one did.
 *
 * It searches, so it runs only where the package check puts it: inside
 * nasscout-lab's private network (lab/network_guard.h, built beside it).
 * Started any other way, it refuses. */
#include "network_guard.h"

#include <searchdevice/SearchDeviceLib.h>

#include <stdatomic.h>
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

static atomic_int answers;

static void* OnDevice(void* report, int searchPort)
{
    const deviceinfo* device = report;
    printf("found %.32s at %.32s (port %d)\n", device->host, device->ip, searchPort);
    fflush(stdout);
    atomic_fetch_add(&answers, 1);
    return NULL;
}

int main(void)
{
    ExitUnlessInLab("find_devices");
    InitSearchDeviceLib(OnDevice, false, NULL, true);
    SendMessage(NULL);
    sleep(3);
    UninitSearchDeviceLib();
    return atomic_load(&answers) > 0 ? 0 : 1;
}
