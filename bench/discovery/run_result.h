// What the benchmark measures: one run of one program in the finder host.
// The driver's inner side, in the finder, writes each as a JSON line; its
// outer side gathers them into the figures.
#pragma once

#include <nlohmann/json.hpp>

#include <array>
#include <string>

namespace discovery {

// The programs the benchmark compares, in the order of its tables.
struct Program {
    const char* key;
    const char* label;
};
inline const std::array<Program, 4> kPrograms = {{
    {"floor", "floor"},
    {"client", "C client"},
    {"cli", "cli --json"},
    {"watch", "cli --watch --json"},
}};

struct RunResult {
    std::string program;  // a Program key
    int devices = 0;
    int delayMs = 0;
    int round = 0;
    int found = 0;             // distinct devices the program reported
    double lastMs = -1;        // from its first request to the last new device printed; -1 when none
    bool requestSeen = false;  // false: lastMs counts from the program's start instead
    double cpuMs = 0;          // user and system, every thread
    long long datagrams = 0;   // UDP datagrams read in the finder host during the run
    long long drops = 0;       // UDP datagrams the finder host dropped for a full receive buffer
    double peakRssMiB = 0;
    int status = 0;  // as a shell reports it
};

NLOHMANN_DEFINE_TYPE_NON_INTRUSIVE(RunResult, program, devices, delayMs, round, found, lastMs, requestSeen, cpuMs,
                                   datagrams, drops, peakRssMiB, status)

// How long every program runs with answers spread over `delayMs`: the
// spread, and two seconds for the start, a burst and the stop.
inline int RunSeconds(int delayMs) { return 2 + (delayMs + 999) / 1000; }

}  // namespace discovery
