// The network lab: private network namespaces for every program that can
// open a socket, and small networks of hosts joined by bridges, for the tests
// that cross a network and for nasscout-lab.
//
// Nothing a host sends can leave the lab: its owner starts by moving its
// whole process into a fresh private network namespace (EnterPrivateNetwork,
// run by the tests' main before any test and by nasscout-lab before anything
// else), and every host is a further anonymous namespace held open by a child
// process of the owner. No namespace gets a name, so none outlives the owner.
// The bridges live in the owner's own private namespace. All of it disappears
// with the owning process, also when it crashes (the holders die with their
// parent). Addresses come from the documentation ranges 192.0.2.0/24,
// 198.51.100.0/24, 203.0.113.0/24 and the benchmarking range 198.18.0.0/15;
// the lab refuses any other.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

// The lab's system bus: an abstract socket, which lives in one network
// namespace, so that a lab's programs never reach the machine's own bus.
#define NETLAB_SYSTEM_BUS "unix:abstract=nasscout-lab-system-bus"

namespace netlab {

// Notes the namespace it starts in as the machine's (network_guard.h), then
// moves the calling process into a fresh network namespace with loopback up,
// and points DBUS_SYSTEM_BUS_ADDRESS at the lab's system bus
// (NETLAB_SYSTEM_BUS), for the process and every program it starts.
// Must run while the process has one thread. Exits the process with a message
// when no private namespace can be had: a socket test never runs on the
// machine's own network.
void EnterPrivateNetwork();

// Runs a program to completion; its status as a shell reports it (127 when it
// could not run), -1 when it could not be waited for.
int RunCommand(const std::vector<std::string>& argv);

// True when `address` ("198.51.100.7" or "198.51.100.7/24") and the whole
// network its prefix names lie in one of the lab's ranges.
bool IsLabAddress(const std::string& address);

class Host;

// One Ethernet segment: a bridge in the test's private namespace.
struct Lan {
    std::string bridge;
};

class Lab {
public:
    Lab();
    ~Lab();  // stops every spawned program and removes every host
    Lab(const Lab&) = delete;
    Lab& operator=(const Lab&) = delete;

    // A new segment. Multicast is flooded to every port (no snooping).
    Lan AddLan();

    // A new host with one interface per (lan, "address/prefix") pair, named
    // eth0, eth1 ... in that order. The first interface carries the default
    // route, so limited broadcasts and multicasts from wildcard sockets leave
    // there. Throws std::invalid_argument for an address outside the lab's ranges.
    Host& AddHost(const std::string& name, const std::vector<std::pair<Lan, std::string>>& interfaces);

private:
    std::vector<std::unique_ptr<Host>> hosts_;
    std::vector<std::string> bridges_;
};

// A host of the lab: a network namespace of its own.
class Host {
public:
    Host(const std::string& name);
    ~Host();
    Host(const Host&) = delete;
    Host& operator=(const Host&) = delete;

    const std::string& name() const { return name_; }

    // Runs a program inside the host and waits for it; its exit status.
    int Run(const std::vector<std::string>& argv) const;

    // Adds or removes an address ("192.0.2.9/24") on one of the host's
    // interfaces. Adding throws std::invalid_argument for an address outside
    // the lab's ranges.
    void AddAddress(const std::string& addressWithPrefix, const std::string& interface = "eth0") const;
    void RemoveAddress(const std::string& addressWithPrefix, const std::string& interface = "eth0") const;

    // Adds many addresses to one interface with a single run of `ip -batch`,
    // so that thousands take a moment rather than thousands of processes.
    // All are checked before any is added.
    void AddAddresses(const std::vector<std::string>& addressesWithPrefix, const std::string& interface = "eth0") const;

    // Starts a program inside the host without waiting, with the caller's
    // environment and, unless `outputFile` is given, its standard output and
    // error. Stopped with SIGTERM when the host goes away, and killed if the
    // owning process dies first.
    pid_t Spawn(const std::vector<std::string>& argv, const std::string& outputFile = "");

    // Sends SIGTERM to a spawned program and waits up to `timeout` for it; its
    // exit status, or -1 when it had to be killed.
    int Stop(pid_t pid, std::chrono::milliseconds timeout = std::chrono::seconds(5));

    // Waits up to `timeout` for a spawned program to end by itself, then
    // kills it; its exit status, or -1 when it had to be killed.
    int Wait(pid_t pid, std::chrono::milliseconds timeout);

    // Without waiting: -1 while a spawned program runs; once it has ended,
    // forgets it and returns its status as a shell reports it (the exit
    // status, or 128 plus the number of the signal that ended it).
    int Poll(pid_t pid);

    // While an Inside object lives, the constructing thread works in the host's
    // namespace: sockets it opens (and threads it starts) belong to the host.
    class Inside {
    public:
        explicit Inside(const Host& host);
        ~Inside();
        Inside(const Inside&) = delete;
        Inside& operator=(const Inside&) = delete;

    private:
        int previousNamespace_;
    };

private:
    friend class Lab;
    // Ends whatever still runs in the host's namespace apart from the holder:
    // programs that spawned programs started. Only ever the owner's own.
    void KillLeftovers() const;

    std::string name_;
    pid_t holder_ = -1;     // keeps the namespace alive; dies with the owning process
    int namespaceFd_ = -1;  // the host's network namespace
    std::vector<pid_t> spawned_;
};

}  // namespace netlab
