// nasscout-lab: a private network with simulated NAS devices, and a command
// run in its finder host; for trying the engine, or a program linked with it,
// without touching a real network.
#include "engine/untrusted/printable_text.h"
#include "lab/avahi_daemons.h"
#include "lab/memory_file.h"
#include "lab/netlab.h"
#include "lab_options.h"
#include "tools/common/option_error.h"

#include <nlohmann/json.hpp>

#include <arpa/inet.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <iostream>
#include <map>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

// Ends the lab early when SIGINT or SIGTERM arrives before the command runs.
struct Interrupted {
    int signal;
};

// Devices that go at the same moment share a host and a simulator.
struct DeviceHost {
    int leaveAfterSeconds = 0;
    std::vector<sim::SimDevice> devices;
    netlab::Host* host = nullptr;
    pid_t simulator = -1;
    int outputFd = -1;  // the simulator's output, in memory
};

std::string Executable()
{
    char path[PATH_MAX] = {};
    ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
    return length > 0 ? std::string(path, static_cast<size_t>(length)) : std::string();
}

// nasscout-sim beside this program: in the same folder once installed, in
// tools/sim in the build tree.
std::string FindSimulator()
{
    std::string self = Executable();
    std::string folder = self.substr(0, self.rfind('/') + 1);
    for (const std::string& candidate : {folder + "nasscout-sim", folder + "../sim/nasscout-sim"}) {
        if (access(candidate.c_str(), X_OK) == 0) return candidate;
    }
    return "";
}

std::string DevicesJson(const std::vector<sim::SimDevice>& devices)
{
    nlohmann::json list = nlohmann::json::array();
    for (const sim::SimDevice& device : devices) {
        nlohmann::json object;
        for (const sim::DeviceField& field : sim::kDeviceFields) object[field.first] = device.*(field.second);
        list.push_back(object);
    }
    return nlohmann::json{{"devices", list}}.dump();
}

// Waits for a signal in `signals` for up to `timeout`; the signal, or 0.
int WaitForSignal(const sigset_t& signals, std::chrono::milliseconds timeout, siginfo_t& info)
{
    timespec wait{static_cast<time_t>(timeout.count() / 1000), static_cast<long>(timeout.count() % 1000) * 1000000};
    int signal = sigtimedwait(&signals, &info, &wait);
    return signal > 0 ? signal : 0;
}

// Starts the simulator of `group` and waits for its ready line.
void StartSimulator(const std::string& simPath, int maxDelayMs, DeviceHost& group, const sigset_t& signals)
{
    int devicesFd = netlab::MemoryFile("nasscout-lab-devices", DevicesJson(group.devices));
    group.outputFd = netlab::MemoryFile("nasscout-sim-output", "");
    group.simulator = group.host->Spawn(
        {simPath, "--devices", netlab::MemoryFilePath(devicesFd), "--max-delay", std::to_string(maxDelayMs)},
        netlab::MemoryFilePath(group.outputFd));
    auto deadline = Clock::now() + std::chrono::seconds(10);
    siginfo_t info{};
    while (netlab::ReadMemoryFile(group.outputFd).find("nasscout-sim: ready") == std::string::npos) {
        int status = group.host->Poll(group.simulator);
        if (status >= 0 || Clock::now() > deadline) {
            close(devicesFd);
            throw std::runtime_error(simPath + " did not start in host " + group.host->name() +
                                     (status >= 0 ? " (exit status " + std::to_string(status) + ")" : "") + ": " +
                                     netlab::ReadMemoryFile(group.outputFd));
        }
        int signal = WaitForSignal(signals, std::chrono::milliseconds(10), info);
        if (signal == SIGINT || signal == SIGTERM) throw Interrupted{signal};
    }
    close(devicesFd);  // read by now
}

// A device inside the finder's network gets the finder's prefix; any other
// is a single address, reached through the default route of the LAN.
std::string DeviceAddress(const std::string& finder, const std::string& ip)
{
    const std::string prefix = finder.substr(finder.find('/'));
    in_addr finderAddress{}, deviceAddress{};
    inet_pton(AF_INET, finder.substr(0, finder.find('/')).c_str(), &finderAddress);
    inet_pton(AF_INET, ip.c_str(), &deviceAddress);
    const int bits = std::stoi(prefix.substr(1));
    const uint32_t mask = bits == 0 ? 0 : htonl(~0u << (32 - bits));
    return (finderAddress.s_addr & mask) == (deviceAddress.s_addr & mask) ? ip + prefix : ip + "/32";
}

std::string Names(const std::vector<sim::SimDevice>& devices)
{
    std::string names;
    for (size_t index = 0; index < devices.size() && index < 5; ++index)
        names += (index ? ", " : "") + devices[index].host + " (" + devices[index].ip + ")";
    if (devices.size() > 5) names += " and " + std::to_string(devices.size() - 5) + " more";
    return names;
}

// What leaves the lab during the command: at its time, said with --verbose.
struct Departure {
    std::function<void()> leave;
    std::string said;
};
using Departures = std::multimap<int, Departure>;  // by seconds after the start

// A host per group of simulated devices that leave together, each with its
// simulator.
void StartDeviceHosts(const lab::LabOptions& options, const std::string& simPath, const sigset_t& signals,
                      netlab::Lab& lab, const netlab::Lan& lan, std::map<int, DeviceHost>& groups,
                      Departures& departures)
{
    for (const lab::LabDevice& device : options.devices) {
        groups[device.leaveAfterSeconds].leaveAfterSeconds = device.leaveAfterSeconds;
        groups[device.leaveAfterSeconds].devices.push_back(device.device);
    }
    for (auto& [leaveAfter, group] : groups) {
        std::string name = leaveAfter == 0 ? "devices" : "leaving-" + std::to_string(leaveAfter);
        std::vector<std::string> addresses;
        for (const sim::SimDevice& device : group.devices) addresses.push_back(DeviceAddress(options.finder, device.ip));
        group.host = &lab.AddHost(name, {{lan, addresses.front()}});
        addresses.erase(addresses.begin());
        group.host->AddAddresses(addresses);
        StartSimulator(simPath, options.maxDelayMs, group, signals);
        if (options.verbose) {
            std::cerr << "nasscout-lab: host " << name << ": " << group.devices.size()
                      << (group.devices.size() == 1 ? " device: " : " devices: ") << Names(group.devices);
            if (leaveAfter > 0) std::cerr << "; leaving after " << leaveAfter << " s";
            std::cerr << std::endl;
        }
        if (leaveAfter > 0) {
            DeviceHost* leaving = &group;  // says bye-bye
            departures.emplace(leaveAfter, Departure{[leaving] { leaving->host->Stop(leaving->simulator); },
                                                     "said bye-bye and left: " + Names(group.devices)});
        }
    }
}

// The finder's avahi-daemon and a host with an avahi-daemon per DNS-SD host,
// all announced before the command starts.
void StartDnssdHosts(const lab::LabOptions& options, netlab::Lab& lab, const netlab::Lan& lan, netlab::Host& finder,
                     std::vector<std::unique_ptr<netlab::AvahiDaemon>>& daemons, Departures& departures)
{
    if (options.dnssdHosts.empty()) return;
    daemons.push_back(netlab::AvahiDaemon::Desktop(finder));
    for (const lab::LabDnssdHost& dnssdHost : options.dnssdHosts) {
        netlab::Host& host = lab.AddHost("dnssd-" + dnssdHost.name, {{lan, DeviceAddress(options.finder, dnssdHost.ip)}});
        daemons.push_back(netlab::AvahiDaemon::Responder(host, dnssdHost.name, dnssdHost.services));
        const std::string described = dnssdHost.name + ".local (" + dnssdHost.ip + ")";
        if (options.verbose) {
            std::cerr << "nasscout-lab: host dnssd-" << dnssdHost.name << ": " << described << " with avahi-daemon";
            for (const netlab::DnssdService& service : dnssdHost.services) std::cerr << ", " << service.type;
            if (dnssdHost.leaveAfterSeconds > 0) std::cerr << "; leaving after " << dnssdHost.leaveAfterSeconds << " s";
            std::cerr << std::endl;
        }
        if (dnssdHost.leaveAfterSeconds > 0) {
            netlab::AvahiDaemon* daemon = daemons.back().get();  // says goodbye
            departures.emplace(dnssdHost.leaveAfterSeconds,
                               Departure{[daemon] { daemon->Stop(); }, "said goodbye and left: " + described});
        }
    }
    for (const auto& daemon : daemons) {
        if (!daemon->WaitReady()) throw std::runtime_error("avahi-daemon did not start: " + daemon->Output());
    }
}

// Builds the lab, runs the command in its finder and ends everything; the
// command's status.
int Run(const lab::LabOptions& options, const std::string& simPath, const sigset_t& signals)
{
    netlab::Lab lab;
    netlab::Lan lan = lab.AddLan();
    netlab::Host& finder = lab.AddHost("finder", {{lan, options.finder}});
    std::map<int, DeviceHost> groups;  // by leave time, the staying devices (0) first
    Departures departures;
    StartDeviceHosts(options, simPath, signals, lab, lan, groups, departures);
    std::vector<std::unique_ptr<netlab::AvahiDaemon>> daemons;  // stopped before their hosts go
    StartDnssdHosts(options, lab, lan, finder, daemons, departures);
    if (options.verbose) std::cerr << "nasscout-lab: host finder: " << options.finder << std::endl;

    const auto start = Clock::now();
    pid_t command = finder.Spawn(options.command);
    auto leaving = departures.begin();
    siginfo_t info{};
    for (;;) {
        int status = finder.Poll(command);
        if (status >= 0) return status;
        auto wait = std::chrono::milliseconds(200);
        if (leaving != departures.end()) {
            auto due = start + std::chrono::seconds(leaving->first);
            if (Clock::now() >= due) {
                leaving->second.leave();
                if (options.verbose)
                    std::cerr << "nasscout-lab: after " << leaving->first << " s, " << leaving->second.said << std::endl;
                ++leaving;
                continue;
            }
            wait = std::min(wait, std::chrono::duration_cast<std::chrono::milliseconds>(due - Clock::now()) +
                                      std::chrono::milliseconds(1));
        }
        int signal = WaitForSignal(signals, wait, info);
        // A signal from the terminal reached the command already; one sent
        // to nasscout-lab alone is passed on.
        if ((signal == SIGINT || signal == SIGTERM) && info.si_code != SI_KERNEL) kill(command, signal);
    }
}

// Why the command cannot run, found as the finder will look for it (through
// PATH unless it names a path), before a network is built for it: the status
// a shell gives, 127 when it is missing and 126 when it cannot be run, with
// `why` said; 0 when it can run.
int CommandCannotRun(const std::string& program, std::string& why)
{
    std::vector<std::string> candidates;
    if (program.find('/') != std::string::npos) {
        candidates.push_back(program);
    } else {
        const char* path = std::getenv("PATH");
        std::istringstream folders(path != nullptr ? path : "/usr/local/bin:/usr/bin:/bin");
        for (std::string folder; std::getline(folders, folder, ':');)
            candidates.push_back((folder.empty() ? "." : folder) + "/" + program);
    }
    int status = 127;
    why = program.find('/') != std::string::npos ? "No such file or directory" : "command not found";
    for (const std::string& candidate : candidates) {
        struct stat file {};
        if (stat(candidate.c_str(), &file) != 0) continue;
        if (S_ISREG(file.st_mode) && access(candidate.c_str(), X_OK) == 0) return 0;
        status = 126;
        why = S_ISDIR(file.st_mode) ? "Is a directory" : "Permission denied";
    }
    return status;
}

}  // namespace

int main(int argc, char** argv)
{
    lab::LabOptions options;
    std::string message;
    switch (lab::ParseOptions(argc, argv, options, message)) {
    case lab::OptionsResult::Help:
        std::cout << message;
        return 0;
    case lab::OptionsResult::Error:
        return tools::ReportOptionError("nasscout-lab", message);
    case lab::OptionsResult::Run:
        break;
    }
    std::string simPath = options.simPath.empty() ? FindSimulator() : options.simPath;
    if (options.simPath.empty() && simPath.empty()) {
        std::cerr << "nasscout-lab: no nasscout-sim beside " << Executable() << "; give --sim PATH" << std::endl;
        return 1;
    }
    if (access(simPath.c_str(), X_OK) != 0) {
        std::cerr << "nasscout-lab: --sim " << simPath << " is not an executable program" << std::endl;
        return 2;
    }
    std::string why;
    if (const int status = CommandCannotRun(options.command.front(), why)) {
        std::cerr << "nasscout-lab: " << printable::LineText(options.command.front()) << ": " << why << std::endl;
        return status;
    }
    if (geteuid() != 0) {
        std::cerr << "nasscout-lab: needs root to build a network of namespaces; run it as root, e.g. "
                     "'sudo nasscout-lab ...'"
                  << std::endl;
        return 1;
    }
    // First of all, and while this process has one thread: the bridges and
    // everything else the lab makes live in a namespace of our own.
    netlab::EnterPrivateNetwork();

    // Taken before any child exists: signals wait until the loop asks for
    // them, so none can end the lab before it is removed. A shell starts a
    // background job with SIGINT ignored; the lab and its command must see it.
    std::signal(SIGINT, SIG_DFL);
    std::signal(SIGTERM, SIG_DFL);
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    sigprocmask(SIG_BLOCK, &signals, nullptr);
    try {
        return Run(options, simPath, signals);
    } catch (const Interrupted& interrupted) {
        return 128 + interrupted.signal;
    } catch (const std::exception& failure) {
        std::cerr << "nasscout-lab: " << failure.what() << std::endl;
        return 1;
    }
}
