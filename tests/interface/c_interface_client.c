/* A plain C program that knows the engine only through its public header:
 * it starts the engine, runs one search pass, waits until it has heard of
 * the number of devices it was told to expect, and stops the engine.
 *
 *   c_interface_client EXPECTED_DEVICES SECONDS
 *
 * It prints "found ID IP PORT" for every report and exits 0 when enough
 * distinct devices were found in time. It broadcasts, so it refuses to run
 * in the machine's own network namespace: the tests start it inside a lab host. */
#include "lab/network_guard.h"

#include <searchdevice/SearchDeviceLib.h>

#include <pthread.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

#define MAX_DEVICES 64

static pthread_mutex_t g_lock = PTHREAD_MUTEX_INITIALIZER;
static pthread_cond_t g_found = PTHREAD_COND_INITIALIZER;
static char g_ids[MAX_DEVICES][DEVICEINFO_TEXT_SIZE];
static int g_count = 0;

static void* OnDevice(void* pDevice, int nSearchPort)
{
    const deviceinfo* device = (const deviceinfo*)pDevice;
    int index;
    pthread_mutex_lock(&g_lock);
    printf("found %.31s %.31s %d\n", device->id, device->ip, nSearchPort);
    fflush(stdout);
    for (index = 0; index < g_count; ++index) {
        if (strncmp(g_ids[index], device->id, DEVICEINFO_TEXT_SIZE) == 0) break;
    }
    if (index == g_count && g_count < MAX_DEVICES) {
        memcpy(g_ids[g_count++], device->id, DEVICEINFO_TEXT_SIZE);
        pthread_cond_broadcast(&g_found);
    }
    pthread_mutex_unlock(&g_lock);
    return NULL;
}

int main(int argc, char** argv)
{
    int expected, seconds, enough;
    struct timespec deadline;
    DHCPPACKET packet;
    deviceinfo record;

    if (argc != 3) {
        fprintf(stderr, "usage: %s EXPECTED_DEVICES SECONDS\n", argv[0]);
        return 2;
    }
    ExitUnlessInLab(argv[0]);
    expected = atoi(argv[1]);
    seconds = atoi(argv[2]);
    (void)packet;
    (void)record;

    InitSearchDeviceLib(OnDevice, false, NULL, true);
    SendMessage(NULL);

    clock_gettime(CLOCK_REALTIME, &deadline);
    deadline.tv_sec += seconds;
    pthread_mutex_lock(&g_lock);
    while (g_count < expected) {
        if (pthread_cond_timedwait(&g_found, &g_lock, &deadline) != 0) break;
    }
    enough = g_count >= expected;
    pthread_mutex_unlock(&g_lock);

    UninitSearchDeviceLib();
    printf("devices %d\n", g_count);
    return enough ? 0 : 1;
}
