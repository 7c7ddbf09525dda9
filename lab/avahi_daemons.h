// avahi-daemon in hosts of the lab: a NAS's DNS-SD responder publishing
// service files of its own, and the finder's desktop stack (a system bus of
// its own with avahi-daemon on it), so that the whole road of a DNS-SD
// announcement runs inside the lab.
//
// Each daemon runs in a private mount namespace in which /run and avahi's
// services folder are fresh tmpfs mounts, filled from this process's memory:
// it writes nothing to disk, meets no other daemon's pid file or socket, and
// nothing of it outlives it. The system bus listens on an abstract socket
// (kLabSystemBus), which lives in the host's network namespace; every
// program of a lab finds it through DBUS_SYSTEM_BUS_ADDRESS, which
// EnterPrivateNetwork sets, so none reaches the machine's own bus or
// avahi-daemon.
#pragma once

#include "netlab.h"

#include <chrono>
#include <memory>
#include <string>
#include <vector>

namespace netlab {

// One DNS-SD service a responder publishes.
struct DnssdService {
    std::string type;              // "_smb._tcp"
    std::string name;              // the instance name; empty: the host's name
    int port = 0;                  // 0 to 65535
    std::vector<std::string> txt;  // "model=NS-4": any bytes after the '=' (published as hex)
};

// True when avahi-daemon can publish `name` as a host name: 1 to 63 letters,
// digits and '-'. Instance names may hold any UTF-8 an XML file can carry.
bool IsDnssdHostName(const std::string& name);

// avahi-daemon's service files for `services`, one per instance name (a
// service group has one name); throws std::invalid_argument for a name an
// XML file cannot carry (a control character other than tab).
std::vector<std::string> AvahiServiceFiles(const std::vector<DnssdService>& services);

class AvahiDaemon {
public:
    // A NAS's responder: publishes `hostName`.local with the host's addresses
    // and `services`; no D-Bus. Throws std::invalid_argument for a name it
    // cannot publish.
    static std::unique_ptr<AvahiDaemon> Responder(Host& host, const std::string& hostName,
                                                  const std::vector<DnssdService>& services);

    // The desktop's: a dbus-daemon on kLabSystemBus and avahi-daemon on it,
    // publishing nothing, for the finder's programs to browse through.
    static std::unique_ptr<AvahiDaemon> Desktop(Host& host);

    ~AvahiDaemon();  // Stop()
    AvahiDaemon(const AvahiDaemon&) = delete;
    AvahiDaemon& operator=(const AvahiDaemon&) = delete;

    // Waits until the daemon runs and has announced all its services; false
    // when it ended or `timeout` passed first (Output() says why).
    bool WaitReady(std::chrono::milliseconds timeout = std::chrono::seconds(15));

    // SIGTERM: avahi-daemon says goodbye for every record it published
    // (TTL 0), then ends. Waits for it.
    void Stop();

    // What the daemon printed.
    std::string Output() const;

    // avahi-daemon's process once it runs (the shell that starts it becomes
    // it), -1 after Stop: for a benchmark that reads its CPU time.
    pid_t pid() const { return pid_; }

private:
    AvahiDaemon(Host& host, std::size_t groups);
    void Start(const std::vector<std::string>& script, const std::vector<std::string>& arguments);

    Host& host_;
    const std::size_t groups_;  // service groups to be established before it is ready
    pid_t pid_ = -1;
    int outputFd_ = -1;
    std::vector<int> files_;  // its configuration, held open while it may read it
};

}  // namespace netlab
