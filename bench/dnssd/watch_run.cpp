#include "watch_run.h"

#include "lab/child_process.h"

#include <nlohmann/json.hpp>

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <set>
#include <stdexcept>
#include <thread>

namespace dnssd_bench {

volatile std::sig_atomic_t g_stopSignal = 0;

namespace {

using Clock = std::chrono::steady_clock;

// A single-threaded process's time on a CPU and waiting for one, in ns, as
// the scheduler counts them (schedstat): stat's clock ticks are 10 ms, too
// coarse here.
struct SchedTimes {
    long long cpuNs = 0;
    long long waitNs = 0;
};

SchedTimes TimesOf(pid_t pid)
{
    std::ifstream file("/proc/" + std::to_string(pid) + "/schedstat");
    SchedTimes times;
    file >> times.cpuNs >> times.waitNs;
    return times;
}

std::string NetworkOf(pid_t pid)
{
    char link[64] = {};
    const std::string path = "/proc/" + std::to_string(pid) + "/ns/net";
    const ssize_t length = readlink(path.c_str(), link, sizeof link - 1);
    return length > 0 ? std::string(link, static_cast<std::size_t>(length)) : std::string();
}

// The dbus-daemon in the host of `daemon`: AvahiDaemon::Desktop starts it,
// and every result avahi-daemon sends the client passes through it.
pid_t BusBeside(pid_t daemon)
{
    const std::string network = NetworkOf(daemon);
    DIR* processes = network.empty() ? nullptr : opendir("/proc");
    if (processes == nullptr) return -1;
    pid_t found = -1;
    while (dirent* entry = readdir(processes)) {
        const pid_t pid = static_cast<pid_t>(std::atoi(entry->d_name));
        if (pid <= 0) continue;
        std::ifstream comm("/proc/" + std::string(entry->d_name) + "/comm");
        std::string name;
        if (std::getline(comm, name) && name == "dbus-daemon" && NetworkOf(pid) == network) {
            found = pid;
            break;
        }
    }
    closedir(processes);
    return found;
}

// True when `line` lists a DNS-SD host that `listed` lacks; adds it.
bool NewHost(const std::string& line, std::set<std::string>& listed)
{
    const nlohmann::json event = nlohmann::json::parse(line, nullptr, false);
    if (!event.is_object() || event.value("event", "") != "appeared" || event.value("found", "") != "dns-sd")
        return false;
    return listed.insert(event.value("id", "")).second;
}

// Reads the program's output until it ends, stamping each new host as it
// comes; SIGTERM once all `hosts` are listed, `limit` passed or we are asked
// to stop, SIGKILL 5 s later. Its wait status.
int Follow(pid_t pid, int output, Clock::time_point start, std::size_t hosts, std::chrono::seconds limit,
           WatchRun& run, rusage& usage)
{
    std::set<std::string> listed;
    std::string pending;
    pollfd stream{output, POLLIN, 0};
    std::optional<Clock::time_point> termSent, reaped;
    int status = 0;
    // A child it left behind may hold the output open: a second after its end is enough.
    while (!reaped || (stream.fd >= 0 && Clock::now() < *reaped + std::chrono::seconds(1))) {
        if (!reaped && wait4(pid, &status, WNOHANG, &usage) == pid) reaped = Clock::now();
        const auto now = Clock::now();
        if (!reaped && !termSent && (listed.size() >= hosts || now >= start + limit || g_stopSignal != 0)) {
            kill(pid, SIGTERM);
            termSent = now;
        }
        if (!reaped && termSent && now >= *termSent + std::chrono::seconds(5)) kill(pid, SIGKILL);
        if (stream.fd < 0) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
            continue;
        }
        if (poll(&stream, 1, 20) <= 0) continue;
        char buffer[65536];
        const ssize_t got = read(stream.fd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) {
            close(stream.fd);
            stream.fd = -1;
            continue;
        }
        const double atMs = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
        pending.append(buffer, static_cast<std::size_t>(got));
        for (std::size_t end; (end = pending.find('\n')) != std::string::npos; pending.erase(0, end + 1)) {
            if (!NewHost(pending.substr(0, end), listed)) continue;
            if (run.firstMs < 0) run.firstMs = atMs;
            if (listed.size() == hosts) run.lastMs = atMs;
        }
    }
    if (stream.fd >= 0) close(stream.fd);
    run.listed = static_cast<int>(listed.size());
    return status;
}

}  // namespace

double CpuMsOf(const std::vector<pid_t>& pids)
{
    long long sum = 0;
    for (pid_t pid : pids) sum += TimesOf(pid).cpuNs;
    return sum / 1e6;
}

WatchRun RunWatch(const netlab::Host& finder, const netlab::AvahiDaemon& desktop, const std::vector<pid_t>& responders,
                  const std::string& cli, int hosts, std::chrono::seconds limit)
{
    const pid_t daemon = desktop.pid();
    const pid_t bus = daemon < 0 ? -1 : BusBeside(daemon);
    if (bus < 0) throw std::runtime_error("the finder's avahi-daemon or its dbus-daemon does not run");
    int out[2];
    if (pipe2(out, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
    netlab::ChildSetup setup;
    setup.output = out[1];
    setup.searchPath = false;
    const SchedTimes daemonBefore = TimesOf(daemon);
    const long long busBefore = TimesOf(bus).cpuNs;
    const double respondersBefore = CpuMsOf(responders);
    const auto start = Clock::now();
    pid_t pid = -1;
    try {
        // Forked from this thread while it is in the finder's namespace, the child starts there.
        const netlab::Host::Inside inside(finder);
        pid = netlab::StartChild({cli, "--all-makes", "--watch", "--json"}, setup);
    } catch (const std::runtime_error&) {
        close(out[0]);
        close(out[1]);
        throw;
    }
    close(out[1]);
    WatchRun run;
    rusage usage{};
    const int status = Follow(pid, out[0], start, static_cast<std::size_t>(hosts), limit, run, usage);
    // The daemon frees the client's browsers and resolvers once it has gone: a cost of the run too.
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    const SchedTimes daemonAfter = TimesOf(daemon);
    run.daemonCpuMs = (daemonAfter.cpuNs - daemonBefore.cpuNs) / 1e6;
    run.daemonWaitMs = (daemonAfter.waitNs - daemonBefore.waitNs) / 1e6;
    run.busCpuMs = (TimesOf(bus).cpuNs - busBefore) / 1e6;
    run.respondersCpuMs = CpuMsOf(responders) - respondersBefore;
    run.cliCpuMs = (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1e3 +
                   (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e3;
    run.peakRssMiB = usage.ru_maxrss / 1024.0;  // KiB
    run.status = WIFSIGNALED(status) ? 128 + WTERMSIG(status) : WEXITSTATUS(status);
    return run;
}

}  // namespace dnssd_bench
