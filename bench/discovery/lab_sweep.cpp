#include "lab_sweep.h"

#include "figures.h"
#include "lab/child_process.h"
#include "run_result.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <iostream>
#include <sstream>
#include <stdexcept>

namespace discovery {

namespace {

constexpr char kFinder[] = "198.18.0.1/15";
constexpr char kFirstDevice[] = "198.18.1.0";

volatile sig_atomic_t g_labPid = 0;
volatile sig_atomic_t g_stopSignal = 0;

// Ctrl-C reaches the lab and everything in it from the terminal; a signal
// sent to us alone is passed on, so that the lab still removes its network.
void OnStopSignal(int signal, siginfo_t* info, void*)
{
    g_stopSignal = signal;
    if (g_labPid > 0 && info->si_code != SI_KERNEL) kill(g_labPid, signal);
}

std::string Self()
{
    char path[PATH_MAX] = {};
    const ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
    return length > 0 ? std::string(path, static_cast<std::size_t>(length)) : std::string();
}

std::string FirstLineOf(const std::string& path, const std::string& prefix = "")
{
    std::ifstream file(path);
    for (std::string line; std::getline(file, line);) {
        if (line.rfind(prefix, 0) == 0) return prefix.empty() ? line : line.substr(line.find(':') + 2);
    }
    return "unknown";
}

std::string CommandOutput(const std::string& command)
{
    std::string text;
    if (std::FILE* pipe = popen(command.c_str(), "r")) {
        char buffer[256];
        while (std::fgets(buffer, sizeof buffer, pipe) != nullptr) text += buffer;
        if (pclose(pipe) != 0) return "";
    }
    return text;
}

std::string Machine(const std::string& sourceDir)
{
    utsname system{};
    uname(&system);
    std::string commit = CommandOutput("git -C '" + sourceDir + "' rev-parse --short HEAD 2>/dev/null");
    if (!commit.empty()) commit.pop_back();
    if (commit.empty()) commit = "unknown";
    else if (!CommandOutput("git -C '" + sourceDir + "' status --porcelain --untracked-files=no 2>/dev/null").empty())
        commit += " with uncommitted changes";
    const std::time_t now = std::time(nullptr);
    char date[32];
    std::strftime(date, sizeof date, "%Y-%m-%d %H:%M UTC", std::gmtime(&now));
    std::ostringstream text;
    text << "Machine: " << sysconf(_SC_NPROCESSORS_ONLN) << " CPUs, " << FirstLineOf("/proc/cpuinfo", "model name")
         << ", Linux " << system.release << ", net.core.rmem_max " << FirstLineOf("/proc/sys/net/core/rmem_max")
         << ".\nCommit " << commit << ", " << date << ".\n";
    return text.str();
}

// Runs one lab and appends its runs; the lab's exit status.
int RunLab(const SweepPlan& plan, int devices, int delayMs, std::vector<RunResult>& runs)
{
    std::vector<std::string> argv{plan.labPath, "--finder", kFinder, "--count", std::to_string(devices)};
    if (devices > 0) argv.insert(argv.end(), {"--first-address", kFirstDevice});
    argv.insert(argv.end(), {"--max-delay", std::to_string(delayMs), "--", Self(), "--inner", "--devices",
                             std::to_string(devices), "--delays", std::to_string(delayMs), "--rounds",
                             std::to_string(plan.rounds), "--floor", plan.floorPath, "--client", plan.clientPath,
                             "--cli", plan.cliPath});
    int out[2];
    if (pipe2(out, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
    netlab::ChildSetup setup;
    setup.output = out[1];
    setup.searchPath = false;
    pid_t pid = -1;
    try {
        pid = netlab::StartChild(argv, setup);
    } catch (const std::runtime_error&) {
        close(out[0]);
        close(out[1]);
        throw;
    }
    g_labPid = pid;
    close(out[1]);
    std::string pending;
    char buffer[4096];
    for (;;) {
        const ssize_t got = read(out[0], buffer, sizeof buffer);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) break;
        pending.append(buffer, static_cast<std::size_t>(got));
        for (std::size_t end; (end = pending.find('\n')) != std::string::npos; pending.erase(0, end + 1)) {
            const nlohmann::json line = nlohmann::json::parse(pending.substr(0, end), nullptr, false);
            if (line.is_object()) runs.push_back(line.get<RunResult>());
        }
    }
    close(out[0]);
    const int status = netlab::WaitForChild(pid);
    g_labPid = 0;
    return status;
}

}  // namespace

int RunSweep(const SweepPlan& plan)
{
    struct sigaction stop {};
    stop.sa_sigaction = OnStopSignal;
    stop.sa_flags = SA_SIGINFO;
    sigaction(SIGINT, &stop, nullptr);
    sigaction(SIGTERM, &stop, nullptr);

    const auto start = std::chrono::steady_clock::now();
    std::vector<RunResult> runs;
    std::vector<int> devices{0};
    devices.insert(devices.end(), plan.devices.begin(), plan.devices.end());
    for (int count : devices) {
        for (int delayMs : plan.delays) {
            const int status = RunLab(plan, count, delayMs, runs);
            if (g_stopSignal != 0) return 128 + g_stopSignal;
            if (status != 0) {
                std::cerr << "discovery_bench: the lab with N " << count << ", W " << delayMs
                          << " ms ended with status " << status << "; no figures" << std::endl;
                return status;
            }
        }
    }
    const std::string figures = FormatFigures(runs, Machine(plan.sourceDir));
    std::cout << "\n" << figures;
    std::ofstream file(plan.output);
    file << figures;
    file.close();
    if (!file) {
        std::cerr << "discovery_bench: cannot write the figures to " << plan.output << std::endl;
        return 1;
    }
    const auto minutes = std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() - start);
    std::cout << "\nWritten to " << plan.output << " after " << minutes.count() << " s." << std::endl;
    return 0;
}

}  // namespace discovery
