// The driver's inner side, run by nasscout-lab in the finder host: the
// programs in alternating rounds, each measured alone.
#pragma once

#include <string>

namespace discovery {

struct FinderPlan {
    int devices = 0;  // what the lab's simulator plays
    int delayMs = 0;  // and over how long it spreads its answers
    int rounds = 3;
    std::string floorPath;
    std::string clientPath;
    std::string cliPath;
};

// Runs every program once per round, the order turning each round, and
// writes a RunResult JSON line on standard output for each run; progress
// goes to standard error. 0 when every run finished, 1 when one could not
// be measured, 128 + N when signal N asked it to stop.
int RunFinderRounds(const FinderPlan& plan);

}  // namespace discovery
