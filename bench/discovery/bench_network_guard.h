/* The benchmark's programs search by broadcast and multicast, so each one
 * that opens a socket first makes sure it runs in a host of the benchmark's
 * lab, never on the machine's own network. Usable from C and C++. */
#ifndef BENCH_NETWORK_GUARD_H
#define BENCH_NETWORK_GUARD_H

#ifdef __cplusplus
extern "C" {
#endif

/* Called by the driver where it was started, before it builds any lab:
 * notes the network namespace it runs in, as the one the benchmark must not
 * search in, in the environment that its labs and their programs inherit. */
void MarkBenchmarkOrigin(void);

/* Returns when the calling process is in a network namespace other than the
 * one marked by MarkBenchmarkOrigin and the machine's, and every IPv4
 * address in it (loopback aside) lies in the benchmarking range
 * 198.18.0.0/15, with at least one. Otherwise writes why to standard error,
 * naming `program`, and exits with 1. Call it before opening any socket. */
void ExitUnlessInBenchmarkLab(const char* program);

#ifdef __cplusplus
}
#endif

#endif
