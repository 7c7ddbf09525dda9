// An X display of the test's own: Xvfb inside the test's private network
// namespace, on the abstract socket only, so that nothing outside can
// connect and no socket file of a display the machine runs is touched.
// For the tests that need what only a real platform does (the xcb platform
// starts the desktop's URL opener; offscreen starts nothing).
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

class PrivateDisplay {
public:
    // Starts Xvfb and, once it takes clients, points DISPLAY at it and Qt at
    // its xcb platform. Call while the process has one thread.
    PrivateDisplay()
    {
        int number[2];
        if (pipe2(number, O_CLOEXEC) != 0) return;
        pid_ = fork();
        if (pid_ == 0) {
            dup2(number[1], 3);  // without close-on-exec: Xvfb writes its display number here
            const int quiet = open("/dev/null", O_WRONLY);
            dup2(quiet, STDOUT_FILENO);
            dup2(quiet, STDERR_FILENO);
            execlp("Xvfb", "Xvfb", "-displayfd", "3", "-nolisten", "tcp", "-nolisten", "unix", "-screen", "0",
                   "1024x768x24", static_cast<char*>(nullptr));
            _exit(127);
        }
        close(number[1]);
        std::string display;
        pollfd readable{number[0], POLLIN, 0};
        char digit = 0;
        while (pid_ > 0 && poll(&readable, 1, 15000) == 1 && read(number[0], &digit, 1) == 1 && digit != '\n')
            display += digit;
        close(number[0]);
        if (display.empty()) return;
        setenv("DISPLAY", (":" + display).c_str(), 1);
        setenv("QT_QPA_PLATFORM", "xcb", 1);
        started_ = true;
    }
    ~PrivateDisplay()
    {
        if (pid_ <= 0) return;
        kill(pid_, SIGTERM);
        waitpid(pid_, nullptr, 0);
    }
    PrivateDisplay(const PrivateDisplay &) = delete;
    PrivateDisplay &operator=(const PrivateDisplay &) = delete;

    bool started() const { return started_; }

private:
    pid_t pid_ = -1;
    bool started_ = false;
};
