// The two ways nasscout-cli searches. Both reach the engine only through the
// device store, start it once and stop it before they return, and write their
// results to `results` only. Each returns the program's exit status.
#pragma once

#include "cli_options.h"

#include <cstdio>

namespace cli {

// The exit status when there is nothing to search on: no network with an
// IPv4 address (the one-shot search only), or no search socket at all.
constexpr int kNothingToSearchOn = 3;

// One search pass, the search window, then the devices found, in address
// order, as a table or JSON lines. SIGINT or SIGTERM ends the search window
// early and the devices found so far are printed: status 128 + the signal.
// Call it while the process has one thread: it blocks both signals.
int RunSearch(const CliOptions& options, std::FILE* results);

// A search pass every interval, ageing the list before each, and a line for
// every device that appears, changes or leaves, until SIGINT or SIGTERM.
// Call it while the process has one thread: it blocks both signals for every
// thread started after it and takes them on a thread of its own. From the
// signal on, the process has under a second to end; a write that a stalled
// reader holds past that is left, and the process ends there at once:
// status 1 while a line was unwritten, else 0.
int RunWatch(const CliOptions& options, std::FILE* results);

}  // namespace cli
