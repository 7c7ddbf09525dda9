#include "port67_handover.h"

#include "port67_protocol.h"

#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

std::string g_helperOutcome;  // written once, in main's first call

}  // namespace

void RunThroughPort67Helper(char** argv, const char* program)
{
    if (const char* outcome = std::getenv(NASSCOUT_PORT67_VARIABLE)) {
        g_helperOutcome = outcome;
        unsetenv(NASSCOUT_PORT67_VARIABLE);
        return;
    }
    // Only the installed program: the helper starts that one, not this file.
    char self[PATH_MAX];
    const ssize_t length = readlink("/proc/self/exe", self, sizeof self - 1);
    if (length <= 0 || std::string(self, std::size_t(length)) != std::string(NASSCOUT_INSTALLED_BINDIR "/") + program)
        return;

    std::vector<char*> arguments{const_cast<char*>(NASSCOUT_PORT67_HELPER), const_cast<char*>(program)};
    for (char** argument = argv + 1; *argument != nullptr; ++argument) arguments.push_back(*argument);
    arguments.push_back(nullptr);
    execv(NASSCOUT_PORT67_HELPER, arguments.data());
    // Missing, or not ours to run (dpkg-statoverride): on without port 67.
}

const std::string& Port67HelperOutcome() { return g_helperOutcome; }
