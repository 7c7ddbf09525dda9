// Starting a program in a child process: the one fork and exec of the lab,
// nasscout-lab and the benchmark.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace netlab {

// What the child is given before the program runs; -1 leaves a descriptor as
// it is.
struct ChildSetup {
    int networkNamespace = -1;  // joined first (a host of the lab)
    int input = -1;             // standard input
    int output = -1;            // standard output
    int errors = -1;            // standard error
    bool searchPath = true;     // find the program through PATH
};

// Starts argv in a child that is killed when the caller dies and blocks no
// signal (a caller that takes its signals with sigwait blocks them). Between
// fork and exec only async-signal-safe calls run. The child exits with 126
// when it cannot join the namespace and 127 when the program cannot run.
// Its pid; throws std::runtime_error when no process can be had.
pid_t StartChild(const std::vector<std::string>& argv, const ChildSetup& setup = {});

// Waits for the child, retrying after interruptions; its status as a shell
// reports it (the exit status, or 128 plus the number of the ending
// signal), -1 when it cannot be waited for.
int WaitForChild(pid_t pid);

}  // namespace netlab
