/* The engine as the simplest C program sees it: one search pass, a line
 * "ID IP PORT" on standard output for every report as it arrives, and the
 * end after SECONDS. It links libsearchdevice.so alone.
 *
 *   discovery_client SECONDS */
#include "lab/network_guard.h"

#include <searchdevice/SearchDeviceLib.h>

#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <time.h>

static void* OnDevice(void* pDevice, int nSearchPort)
{
    const deviceinfo* device = (const deviceinfo*)pDevice;
    printf("%.31s %.31s %d\n", device->id, device->ip, nSearchPort);
    fflush(stdout);
    return NULL;
}

int main(int argc, char** argv)
{
    char* end = NULL;
    long seconds = argc == 2 ? strtol(argv[1], &end, 10) : 0;
    struct timespec until;
    if (argc != 2 || *end != '\0' || seconds < 1 || seconds > 3600) {
        fprintf(stderr, "Usage: discovery_client SECONDS (1 to 3600)\n");
        return 2;
    }
    ExitUnlessInLab("discovery_client");

    clock_gettime(CLOCK_MONOTONIC, &until);
    until.tv_sec += seconds;
    InitSearchDeviceLib(OnDevice, false, NULL, true);
    SendMessage(NULL);
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &until, NULL) == EINTR) {
    }
    UninitSearchDeviceLib();
    return 0;
}
