/* getifaddrs, the IFF_ flags and setenv are no part of ISO C. */
#define _DEFAULT_SOURCE
#include "network_guard.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>

static unsigned long long NamespaceOf(const char* path)
{
    struct stat info;
    return stat(path, &info) == 0 ? (unsigned long long)info.st_ino : 0;
}

/* The thread's own: a thread of the lab may have joined a host's namespace. */
static unsigned long long OurNamespace(void) { return NamespaceOf("/proc/thread-self/ns/net"); }

void NoteMachineNetwork(void)
{
    char inode[32];
    const char* noted = getenv(NETLAB_MACHINE_NETWORK_VARIABLE);
    if (noted != NULL && *noted != '\0') return;
    snprintf(inode, sizeof inode, "%llu", OurNamespace());
    setenv(NETLAB_MACHINE_NETWORK_VARIABLE, inode, 1);
}

int OnMachineNetwork(void)
{
    const char* noted = getenv(NETLAB_MACHINE_NETWORK_VARIABLE);
    const unsigned long long ours = OurNamespace();
    if (noted == NULL || *noted == '\0' || ours == 0) return 1;
    /* PID 1's is often hidden from us; the note is what counts then. */
    return strtoull(noted, NULL, 10) == ours || ours == NamespaceOf("/proc/1/ns/net");
}

int IsLabNetwork(uint32_t address, int prefix)
{
    static const struct {
        uint32_t network;
        int prefix;
    } kRanges[] = {
        {0xC0000200u, 24}, /* 192.0.2.0/24 */
        {0xC6336400u, 24}, /* 198.51.100.0/24 */
        {0xCB007100u, 24}, /* 203.0.113.0/24 */
        {0xC6120000u, 15}, /* 198.18.0.0/15 */
    };
    for (size_t index = 0; index < sizeof kRanges / sizeof kRanges[0]; ++index) {
        const uint32_t mask = ~0u << (32 - kRanges[index].prefix);
        if (prefix >= kRanges[index].prefix && prefix <= 32 && (address & mask) == kRanges[index].network) return 1;
    }
    return 0;
}

static void Refuse(const char* program, const char* why, const char* detail)
{
    fprintf(stderr,
            "%s: refusing to run: %s%s.\n"
            "It searches by broadcast and multicast, so it runs only inside a network of the lab\n"
            "(the tests, nasscout-lab, 'sudo make bench'), never on the machine's own.\n",
            program, why, detail);
    exit(1);
}

void ExitUnlessInLab(const char* program)
{
    struct ifaddrs* interfaces = NULL;
    const struct ifaddrs* entry;
    int inLab = 0;
    if (OnMachineNetwork()) Refuse(program, "this may be the machine's own network", "");
    if (getifaddrs(&interfaces) != 0) Refuse(program, "cannot list the network addresses", "");
    for (entry = interfaces; entry != NULL; entry = entry->ifa_next) {
        const struct in_addr* address;
        char text[INET_ADDRSTRLEN + IF_NAMESIZE + 8];
        if (entry->ifa_addr == NULL || entry->ifa_addr->sa_family != AF_INET) continue;
        if (entry->ifa_flags & IFF_LOOPBACK) continue;
        address = &((const struct sockaddr_in*)entry->ifa_addr)->sin_addr;
        if (IsLabNetwork(ntohl(address->s_addr), 32)) {
            inLab = 1;
            continue;
        }
        inet_ntop(AF_INET, address, text, INET_ADDRSTRLEN);
        strncat(text, " on ", sizeof text - strlen(text) - 1);
        strncat(text, entry->ifa_name, sizeof text - strlen(text) - 1);
        freeifaddrs(interfaces);
        Refuse(program, "an address outside the lab's ranges: ", text);
    }
    freeifaddrs(interfaces);
    if (!inLab) Refuse(program, "no address of the lab's ranges here", "");
}
