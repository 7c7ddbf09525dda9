/* A program of someone else's that finds NAS devices with the installed
 * engine alone: built by the package check with pkg-config and with
 * find_package(searchdevice). It runs one search pass, prints every device
 * that answers and exits 0 when one did.
 *
 * It searches, so it runs only where the package check puts it: inside
 * nasscout-lab's private network, with the machine's own network namespace
 * named in NASSCOUT_MACHINE_NETNS (its inode number). Started any other way,
 * it refuses. */
#include <searchdevice/SearchDeviceLib.h>

#include <stdatomic.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>
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

/* True unless this process is known to be outside the machine's network
 * namespace (/proc/1 is often hidden, so the caller names the machine's). */
static int InMachineNetwork(void)
{
    const char* machine = getenv("NASSCOUT_MACHINE_NETNS");
    struct stat own;
    if (machine == NULL || *machine == '\0' || stat("/proc/self/ns/net", &own) != 0) return 1;
    return strtoull(machine, NULL, 10) == (unsigned long long)own.st_ino;
}

int main(void)
{
    if (InMachineNetwork()) {
        fprintf(stderr, "find_devices: searches only in a private network, as scripts/package-check.sh runs it\n");
        return 2;
    }
    InitSearchDeviceLib(OnDevice, false, NULL, true);
    SendMessage(NULL);
    sleep(3);
    UninitSearchDeviceLib();
    return atomic_load(&answers) > 0 ? 0 : 1;
}
