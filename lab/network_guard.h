/* Where a program that searches may run: inside a network of the lab, never
 * on the machine's own. A process that builds a lab (a test's main,
 * nasscout-lab, the benchmark's driver) notes the network namespace it
 * started in before it leaves it; every program started in the lab inherits
 * the note through the environment, and a program that searches refuses to
 * run where the note says it is on the machine's network. Usable from C and
 * C++; pure C, so that a plain C program builds it beside its own source. */
#ifndef NETLAB_NETWORK_GUARD_H
#define NETLAB_NETWORK_GUARD_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* The environment variable that carries the note: the machine's network
 * namespace as the inode number of /proc/self/ns/net. */
#define NETLAB_MACHINE_NETWORK_VARIABLE "NASSCOUT_MACHINE_NETNS"

/* Notes the calling thread's network namespace as the machine's, unless a
 * note is there already (a lab inside a lab keeps the outer note). Call
 * while the process has one thread, before it leaves the namespace. */
void NoteMachineNetwork(void);

/* 1 when the calling thread may be on the machine's network: in the noted
 * namespace or PID 1's, or where that cannot be told, or with no note at all
 * (a program started by hand); 0 otherwise. */
int OnMachineNetwork(void);

/* 1 when the whole network address/prefix lies in one of the lab's ranges:
 * 192.0.2.0/24, 198.51.100.0/24, 203.0.113.0/24 (documentation) and
 * 198.18.0.0/15 (benchmarking). `address` is in host byte order. */
int IsLabNetwork(uint32_t address, int prefix);

/* Returns when the calling thread is off the machine's network and every
 * IPv4 address it sees (loopback aside) lies in the lab's ranges, with one
 * at least. Otherwise writes why to standard error, naming `program`, and
 * exits with status 1. Call it before opening any socket. */
void ExitUnlessInLab(const char* program);

#ifdef __cplusplus
}
#endif

#endif
