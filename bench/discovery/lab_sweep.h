// The driver's outer side: one nasscout-lab per (N, W), each running the
// driver's inner side in its finder host, and the figures at the end.
#pragma once

#include <string>
#include <vector>

namespace discovery {

struct SweepPlan {
    std::vector<int> devices;  // N; the idle runs (N = 0) come first on their own
    std::vector<int> delays;   // W, in ms
    int rounds = 3;
    std::string labPath;
    std::string floorPath;
    std::string clientPath;
    std::string cliPath;
    std::string sourceDir;  // where to ask git for the commit
    std::string output;     // the figures' file
};

// Runs every lab, prints the figures and writes them to plan.output. 0 on
// success; the failing lab's status otherwise (128 + N after signal N).
int RunSweep(const SweepPlan& plan);

}  // namespace discovery
