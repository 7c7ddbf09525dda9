#include "child_process.h"

#include <sched.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <stdexcept>

namespace netlab {

pid_t StartChild(const std::vector<std::string>& argv, const ChildSetup& setup)
{
    std::vector<char*> arguments;
    for (const std::string& argument : argv) arguments.push_back(const_cast<char*>(argument.c_str()));
    arguments.push_back(nullptr);

    const pid_t parent = getpid();
    const pid_t pid = fork();
    if (pid < 0) throw std::runtime_error("fork failed");
    if (pid > 0) return pid;

    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (getppid() != parent) _exit(127);  // the parent died before the line above
    if (setup.networkNamespace >= 0 && setns(setup.networkNamespace, CLONE_NEWNET) != 0) _exit(126);
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    if (setup.input >= 0) dup2(setup.input, STDIN_FILENO);
    if (setup.output >= 0) dup2(setup.output, STDOUT_FILENO);
    if (setup.errors >= 0) dup2(setup.errors, STDERR_FILENO);
    if (setup.searchPath)
        execvp(arguments[0], arguments.data());
    else
        execv(arguments[0], arguments.data());
    _exit(127);
}

int WaitForChild(pid_t pid)
{
    int status = 0;
    while (waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) return -1;
    }
    return WIFSIGNALED(status) ? 128 + WTERMSIG(status) : WEXITSTATUS(status);
}

}  // namespace netlab
