// One run of nasscout-cli --all-makes --watch --json in the finder host,
// until it has listed every DNS-SD host or its time is up, and what it and
// the finder's avahi stack cost meanwhile.
#pragma once

#include "lab/avahi_daemons.h"
#include "lab/netlab.h"

#include <chrono>
#include <csignal>
#include <string>
#include <vector>

namespace dnssd_bench {

struct WatchRun {
    int listed = 0;              // distinct hosts printed as "appeared" by DNS-SD
    double firstMs = -1;         // from nasscout-cli's start to the first of them; -1 when none
    double lastMs = -1;          // to the last of the `hosts`; -1 when some were missing
    double cliCpuMs = 0;         // user and system, every thread
    double daemonCpuMs = 0;      // the finder's avahi-daemon during the run
    double daemonWaitMs = 0;     // the time it was ready to run but waited for a CPU
    double busCpuMs = 0;         // the finder's dbus-daemon during the run
    double respondersCpuMs = 0;  // all the hosts' avahi-daemons together, on the same CPUs
    double peakRssMiB = 0;       // nasscout-cli's
    int status = 0;              // as a shell reports it
};

// Runs `cli` in `finder`, whose avahi-daemon is `desktop`, and ends it with
// SIGTERM once `hosts` hosts were listed or `limit` passed; `responders` are
// the hosts' avahi-daemons. Throws std::runtime_error when it cannot be
// started or measured.
WatchRun RunWatch(const netlab::Host& finder, const netlab::AvahiDaemon& desktop, const std::vector<pid_t>& responders,
                  const std::string& cli, int hosts, std::chrono::seconds limit);

// The CPU time of single-threaded processes together, in ms.
double CpuMsOf(const std::vector<pid_t>& pids);

// Set by SIGINT or SIGTERM: a run in progress ends early.
extern volatile std::sig_atomic_t g_stopSignal;

}  // namespace dnssd_bench
