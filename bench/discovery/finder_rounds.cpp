#include "finder_rounds.h"

#include "lab/child_process.h"
#include "lab/network_guard.h"
#include "request_capture.h"
#include "run_result.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <map>
#include <set>
#include <sstream>
#include <stdexcept>
#include <thread>
#include <vector>

namespace discovery {

namespace {

using Clock = std::chrono::steady_clock;

volatile sig_atomic_t g_stopSignal = 0;

void OnStopSignal(int signal) { g_stopSignal = signal; }

struct Stopped {};

long long RealtimeNs()
{
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    return static_cast<long long>(now.tv_sec) * 1000000000LL + now.tv_nsec;
}

// The finder host's UDP counters; per network namespace, so they count this
// host alone.
struct UdpCounters {
    long long inDatagrams = 0;
    long long receiveBufferErrors = 0;
};

UdpCounters ReadUdpCounters()
{
    std::ifstream snmp("/proc/net/snmp");
    std::string names, values, line;
    while (std::getline(snmp, line)) {
        if (line.rfind("Udp: ", 0) != 0) continue;
        if (names.empty()) names = line; else values = line;
    }
    if (values.empty()) throw std::runtime_error("no Udp counters in /proc/net/snmp");
    std::istringstream nameWords(names), valueWords(values);
    std::map<std::string, long long> counters;
    std::string name;
    long long value = 0;
    nameWords >> name;
    valueWords >> name;
    while (nameWords >> name && valueWords >> value) counters[name] = value;
    return {counters["InDatagrams"], counters["RcvbufErrors"]};
}

struct Line {
    long long arrivedNs;
    std::string text;
};

struct Finished {
    std::vector<Line> lines;  // standard output, each stamped when the driver read it
    std::string errorTail;    // the end of standard error, for a failure's message
    rusage usage{};
    int status = -1;
};

void SplitLines(std::string& pending, std::vector<Line>& lines, long long arrivedNs)
{
    std::size_t start = 0;
    for (std::size_t end; (end = pending.find('\n', start)) != std::string::npos; start = end + 1) {
        lines.push_back({arrivedNs, pending.substr(start, end - start)});
    }
    pending.erase(0, start);
}

// Runs argv with its output on pipes read as it comes. SIGTERM after
// `stopAfter` when it is not zero; SIGKILL after `limit`.
// Reads what is there on the two streams (the program's output, its error):
// output lines stamped with their arrival, the error's last 4 KiB. A stream
// at its end is closed and its fd set to -1.
void ReadStreams(pollfd (&streams)[2], std::string& pendingOut, Finished& finished)
{
    const long long arrivedNs = RealtimeNs();
    for (int index = 0; index < 2; ++index) {
        if (streams[index].fd < 0 || streams[index].revents == 0) continue;
        char buffer[65536];
        const ssize_t got = read(streams[index].fd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) {
            close(streams[index].fd);
            streams[index].fd = -1;
            continue;
        }
        if (index == 0) {
            pendingOut.append(buffer, static_cast<std::size_t>(got));
            SplitLines(pendingOut, finished.lines, arrivedNs);
        } else {
            finished.errorTail.append(buffer, static_cast<std::size_t>(got));
            if (finished.errorTail.size() > 4096) finished.errorTail.erase(0, finished.errorTail.size() - 4096);
        }
    }
}

Finished RunProgram(const std::vector<std::string>& argv, std::chrono::seconds stopAfter, std::chrono::seconds limit)
{
    int out[2], err[2];
    if (pipe2(out, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
    if (pipe2(err, O_CLOEXEC) != 0) {
        close(out[0]);
        close(out[1]);
        throw std::runtime_error("pipe failed");
    }
    netlab::ChildSetup setup;
    setup.output = out[1];
    setup.errors = err[1];
    setup.searchPath = false;
    const auto start = Clock::now();
    pid_t pid = -1;
    try {
        pid = netlab::StartChild(argv, setup);
    } catch (const std::runtime_error&) {
        for (int fd : {out[0], out[1], err[0], err[1]}) close(fd);
        throw;
    }
    close(out[1]);
    close(err[1]);

    Finished finished;
    std::string pendingOut;
    pollfd streams[2] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
    bool termSent = false, killSent = false, reaped = false;
    int status = 0;
    while (!reaped || streams[0].fd >= 0 || streams[1].fd >= 0) {
        if (!reaped && wait4(pid, &status, WNOHANG, &finished.usage) == pid) reaped = true;
        const auto now = Clock::now();
        if (!reaped && !killSent && (g_stopSignal != 0 || now >= start + limit)) {
            kill(pid, SIGKILL);
            killSent = true;
        }
        if (!reaped && !termSent && stopAfter.count() > 0 && now >= start + stopAfter) {
            kill(pid, SIGTERM);
            termSent = true;
        }
        const int timeout = streams[0].fd < 0 && streams[1].fd < 0 ? 5 : 50;
        if (poll(streams, 2, timeout) > 0) ReadStreams(streams, pendingOut, finished);
    }
    if (g_stopSignal != 0) throw Stopped{};
    finished.status = WIFSIGNALED(status) ? 128 + WTERMSIG(status) : WEXITSTATUS(status);
    return finished;
}

std::vector<std::string> CommandOf(const std::string& program, const FinderPlan& plan, int seconds)
{
    const std::string time = std::to_string(seconds);
    if (program == "floor") return {plan.floorPath, time};
    if (program == "client") return {plan.clientPath, time};
    if (program == "cli") return {plan.cliPath, "--json", "--seconds", time};
    return {plan.cliPath, "--watch", "--json"};
}

// The device a line of the program's output names, or "".
std::string DeviceOfLine(const std::string& program, const std::string& line)
{
    if (program == "client") return line.substr(0, line.find(' '));
    const nlohmann::json object = nlohmann::json::parse(line, nullptr, false);
    if (!object.is_object() || !object.contains("id") || !object["id"].is_string()) return "";
    return object["id"].get<std::string>();
}

RunResult Measure(const std::string& program, const FinderPlan& plan, int round, RequestCapture& capture)
{
    const int seconds = RunSeconds(plan.delayMs);
    RunResult result;
    result.program = program;
    result.devices = plan.devices;
    result.delayMs = plan.delayMs;
    result.round = round;

    capture.Drain();
    const UdpCounters before = ReadUdpCounters();
    const long long startNs = RealtimeNs();
    // --watch runs until it is told to stop; the others end by themselves.
    const std::chrono::seconds stopAfter(program == "watch" ? seconds : 0);
    const Finished finished = RunProgram(CommandOf(program, plan, seconds), stopAfter, std::chrono::seconds(seconds + 20));
    const UdpCounters after = ReadUdpCounters();

    result.status = finished.status;
    result.datagrams = after.inDatagrams - before.inDatagrams;
    result.drops = after.receiveBufferErrors - before.receiveBufferErrors;
    const rusage& usage = finished.usage;
    result.cpuMs = (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1e3 +
                   (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e3;
    result.peakRssMiB = usage.ru_maxrss / 1024.0;  // KiB

    const long long requestNs = capture.FirstRequestSince(startNs);
    result.requestSeen = requestNs != 0;
    const long long fromNs = result.requestSeen ? requestNs : startNs;
    long long lastNs = 0;
    if (program == "floor") {
        const nlohmann::json summary =
            finished.lines.empty() ? nlohmann::json() : nlohmann::json::parse(finished.lines.back().text, nullptr, false);
        if (summary.is_object()) {
            result.found = summary.value("senders", 0);
            lastNs = summary.value("last_ns", 0LL);
        }
    } else {
        std::set<std::string> devices;
        for (const Line& line : finished.lines) {
            const std::string device = DeviceOfLine(program, line.text);
            if (!device.empty() && devices.insert(device).second) lastNs = line.arrivedNs;
        }
        result.found = static_cast<int>(devices.size());
    }
    if (result.found > 0 && lastNs > 0) result.lastMs = (lastNs - fromNs) / 1e6;

    const bool ended = program == "watch" ? result.status == 0 || result.status == 128 + SIGTERM : result.status == 0;
    if (!ended) {
        throw std::runtime_error(program + " ended with status " + std::to_string(result.status) + ": " +
                                 finished.errorTail);
    }
    return result;
}

}  // namespace

int RunFinderRounds(const FinderPlan& plan)
{
    ExitUnlessInLab("discovery_bench");
    struct sigaction stop {};
    stop.sa_handler = OnStopSignal;
    sigaction(SIGINT, &stop, nullptr);
    sigaction(SIGTERM, &stop, nullptr);

    try {
        RequestCapture capture("eth0");
        const int seconds = RunSeconds(plan.delayMs);
        // Unmeasured: the device host learns the finder's hardware address
        // here, so that no measured burst waits on address resolution.
        RunProgram(CommandOf("floor", plan, seconds), std::chrono::seconds(0), std::chrono::seconds(seconds + 20));
        for (int round = 0; round < plan.rounds; ++round) {
            for (std::size_t turn = 0; turn < kPrograms.size(); ++turn) {
                const Program& program = kPrograms[(round + turn) % kPrograms.size()];
                // Let the kernel and the simulator settle after the last run.
                std::this_thread::sleep_for(std::chrono::milliseconds(300));
                const RunResult result = Measure(program.key, plan, round, capture);
                std::cout << nlohmann::json(result).dump() << std::endl;
                std::fprintf(stderr,
                             "discovery_bench: N %d, W %d ms, round %d, %-18s found %5d, last %8.1f ms, CPU %7.1f ms, "
                             "%lld datagrams, %lld drops\n",
                             plan.devices, plan.delayMs, round + 1, program.label, result.found, result.lastMs,
                             result.cpuMs, result.datagrams, result.drops);
            }
        }
    } catch (const Stopped&) {
        return 128 + g_stopSignal;
    } catch (const std::exception& failure) {
        std::fprintf(stderr, "discovery_bench: %s\n", failure.what());
        return 1;
    }
    return 0;
}

}  // namespace discovery
