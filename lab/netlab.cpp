#include "netlab.h"

#include "child_process.h"
#include "network_guard.h"

#include <arpa/inet.h>
#include <dirent.h>
#include <fcntl.h>
#include <net/if.h>
#include <sched.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <thread>

namespace netlab {
namespace {

// Interface names in the owner's namespace, unique for the life of the process.
int g_nextLan = 0;
int g_nextLink = 0;

ino_t NamespaceInode(const char* path)
{
    struct stat info {};
    if (stat(path, &info) != 0) return 0;
    return info.st_ino;
}

[[noreturn]] void Refuse(const char* why)
{
    std::fprintf(stderr,
                 "netlab: refusing to run: %s (%s).\n"
                 "This program opens sockets and may only run in a private network namespace; run it as root.\n",
                 why, std::strerror(errno));
    std::exit(1);
}

void WriteFile(const char* path, const std::string& text)
{
    int fd = open(path, O_WRONLY | O_CLOEXEC);
    if (fd < 0) return;
    (void)!write(fd, text.data(), text.size());
    close(fd);
}

void BringLoopbackUp()
{
    int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) Refuse("no socket for the loopback interface");
    ifreq request{};
    std::strncpy(request.ifr_name, "lo", IFNAMSIZ - 1);
    if (ioctl(fd, SIOCGIFFLAGS, &request) == 0) {
        request.ifr_flags |= IFF_UP;
        ioctl(fd, SIOCSIFFLAGS, &request);
    }
    close(fd);
}

// Starts argv in `namespaceFd` (when >= 0) with `inputFd` (when >= 0) as its
// standard input and `outputFile` (when given) as its standard output and
// error; its pid.
pid_t SpawnIn(int namespaceFd, const std::vector<std::string>& argv, const std::string& outputFile,
              int inputFd = -1)
{
    ChildSetup setup;
    setup.networkNamespace = namespaceFd;
    setup.input = inputFd;
    if (!outputFile.empty()) {
        setup.output = setup.errors = open(outputFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        if (setup.output < 0) throw std::runtime_error("netlab: cannot create " + outputFile);
    }
    try {
        const pid_t pid = StartChild(argv, setup);
        if (setup.output >= 0) close(setup.output);
        return pid;
    } catch (const std::runtime_error& failure) {
        if (setup.output >= 0) close(setup.output);
        throw std::runtime_error(std::string("netlab: ") + failure.what());
    }
}

void RunOrThrow(int namespaceFd, const std::vector<std::string>& argv, int inputFd = -1)
{
    int status = WaitForChild(SpawnIn(namespaceFd, argv, "", inputFd));
    if (status != 0) {
        std::string command;
        for (const std::string& argument : argv) command += argument + " ";
        throw std::runtime_error("netlab: command failed (" + std::to_string(status) + "): " + command);
    }
}

void CheckLabAddress(const std::string& address)
{
    if (!IsLabAddress(address))
        throw std::invalid_argument("netlab: " + address +
                                    " is outside the lab's ranges (192.0.2.0/24, 198.51.100.0/24, "
                                    "203.0.113.0/24, 198.18.0.0/15)");
}

std::string NamespaceLink(pid_t pid)
{
    char link[64] = {};
    std::string path = "/proc/" + std::to_string(pid) + "/ns/net";
    ssize_t length = readlink(path.c_str(), link, sizeof link - 1);
    return length > 0 ? std::string(link, static_cast<size_t>(length)) : std::string();
}

}  // namespace

bool IsLabAddress(const std::string& address)
{
    std::string host = address;
    int prefix = 32;
    size_t slash = address.find('/');
    if (slash != std::string::npos) {
        host = address.substr(0, slash);
        std::string digits = address.substr(slash + 1);
        if (digits.empty() || digits.size() > 2 || digits.find_first_not_of("0123456789") != std::string::npos)
            return false;
        prefix = std::stoi(digits);
    }
    in_addr parsed{};
    return inet_pton(AF_INET, host.c_str(), &parsed) == 1 && IsLabNetwork(ntohl(parsed.s_addr), prefix) == 1;
}

void EnterPrivateNetwork()
{
    // Whatever namespace the process started in counts as the machine's own,
    // for it and for every program it starts.
    NoteMachineNetwork();
    ino_t before = NamespaceInode("/proc/self/ns/net");
    if (unshare(CLONE_NEWNET) != 0) {
        // Without root, a user namespace of our own grants the right to a network namespace.
        uid_t uid = getuid();
        gid_t gid = getgid();
        if (unshare(CLONE_NEWUSER | CLONE_NEWNET) != 0) Refuse("cannot create a private network namespace");
        WriteFile("/proc/self/setgroups", "deny");
        WriteFile("/proc/self/uid_map", "0 " + std::to_string(uid) + " 1");
        WriteFile("/proc/self/gid_map", "0 " + std::to_string(gid) + " 1");
    }
    ino_t after = NamespaceInode("/proc/self/ns/net");
    if (after == 0 || after == before) Refuse("the network namespace did not change");
    BringLoopbackUp();
    // Where a host runs no bus (avahi_daemons.h), nothing answers there.
    setenv("DBUS_SYSTEM_BUS_ADDRESS", NETLAB_SYSTEM_BUS, 1);
}

int RunCommand(const std::vector<std::string>& argv) { return WaitForChild(SpawnIn(-1, argv, "")); }

// ---- Lab

Lab::Lab()
{
    if (OnMachineNetwork()) {
        std::fprintf(stderr, "netlab: a lab is only built inside the test's private network namespace\n");
        std::abort();
    }
}

Lab::~Lab()
{
    hosts_.clear();  // their ends of the links go with their namespaces
    for (const std::string& bridge : bridges_) RunCommand({"ip", "link", "del", bridge});
}

Lan Lab::AddLan()
{
    Lan lan{"nlbr" + std::to_string(g_nextLan++)};
    bridges_.push_back(lan.bridge);
    RunOrThrow(-1, {"ip", "link", "add", lan.bridge, "type", "bridge", "mcast_snooping", "0"});
    RunOrThrow(-1, {"ip", "link", "set", lan.bridge, "up"});
    return lan;
}

Host& Lab::AddHost(const std::string& name, const std::vector<std::pair<Lan, std::string>>& interfaces)
{
    for (const auto& interface : interfaces) CheckLabAddress(interface.second);
    hosts_.push_back(std::make_unique<Host>(name));
    Host& host = *hosts_.back();
    std::string holder = std::to_string(host.holder_);
    host.Run({"ip", "link", "set", "lo", "up"});
    for (size_t index = 0; index < interfaces.size(); ++index) {
        const Lan& lan = interfaces[index].first;
        std::string outside = "nlv" + std::to_string(g_nextLink++);
        std::string inside = "eth" + std::to_string(index);
        RunOrThrow(-1, {"ip", "link", "add", outside, "type", "veth", "peer", "name", inside, "netns", holder});
        RunOrThrow(-1, {"ip", "link", "set", outside, "master", lan.bridge, "up"});
        RunOrThrow(host.namespaceFd_, {"ip", "addr", "add", interfaces[index].second, "dev", inside});
        RunOrThrow(host.namespaceFd_, {"ip", "link", "set", inside, "up"});
        if (index == 0) RunOrThrow(host.namespaceFd_, {"ip", "route", "add", "default", "dev", inside});
    }
    return host;
}

// ---- Host

Host::Host(const std::string& name) : name_(name)
{
    int ready[2];
    if (pipe2(ready, O_CLOEXEC) != 0) throw std::runtime_error("netlab: pipe failed");
    pid_t parent = getpid();
    holder_ = fork();
    if (holder_ < 0) throw std::runtime_error("netlab: fork failed");
    if (holder_ == 0) {
        // The holder keeps the host's namespace alive and dies with the test.
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (getppid() != parent) _exit(1);
        char result = unshare(CLONE_NEWNET) == 0 ? 'y' : 'n';
        (void)!write(ready[1], &result, 1);
        for (;;) pause();
    }
    close(ready[1]);
    char result = 'n';
    ssize_t got = read(ready[0], &result, 1);
    close(ready[0]);
    if (got != 1 || result != 'y') throw std::runtime_error("netlab: cannot create host " + name);
    std::string path = "/proc/" + std::to_string(holder_) + "/ns/net";
    namespaceFd_ = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (namespaceFd_ < 0) throw std::runtime_error("netlab: cannot open " + path);
}

Host::~Host()
{
    while (!spawned_.empty()) Stop(spawned_.front());
    KillLeftovers();
    if (namespaceFd_ >= 0) close(namespaceFd_);
    if (holder_ > 0) {
        kill(holder_, SIGKILL);
        WaitForChild(holder_);
    }
}

int Host::Run(const std::vector<std::string>& argv) const { return WaitForChild(SpawnIn(namespaceFd_, argv, "")); }

void Host::AddAddress(const std::string& addressWithPrefix, const std::string& interface) const
{
    CheckLabAddress(addressWithPrefix);
    RunOrThrow(namespaceFd_, {"ip", "addr", "add", addressWithPrefix, "dev", interface});
}

void Host::RemoveAddress(const std::string& addressWithPrefix, const std::string& interface) const
{
    RunOrThrow(namespaceFd_, {"ip", "addr", "del", addressWithPrefix, "dev", interface});
}

void Host::AddAddresses(const std::vector<std::string>& addressesWithPrefix, const std::string& interface) const
{
    std::string commands;
    for (const std::string& address : addressesWithPrefix) {
        CheckLabAddress(address);
        commands += "address add " + address + " dev " + interface + "\n";
    }
    if (commands.empty()) return;
    // A socket rather than a pipe: should ip end early, the write fails
    // instead of raising SIGPIPE in the owner.
    int ends[2];
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) != 0)
        throw std::runtime_error("netlab: socketpair failed");
    pid_t pid = -1;
    try {
        pid = SpawnIn(namespaceFd_, {"ip", "-batch", "-"}, "", ends[1]);
    } catch (...) {
        close(ends[0]);
        close(ends[1]);
        throw;
    }
    close(ends[1]);
    size_t written = 0;
    while (written < commands.size()) {
        ssize_t sent = send(ends[0], commands.data() + written, commands.size() - written, MSG_NOSIGNAL);
        if (sent < 0 && errno == EINTR) continue;
        if (sent <= 0) break;
        written += static_cast<size_t>(sent);
    }
    close(ends[0]);
    int status = WaitForChild(pid);
    if (written < commands.size() || status != 0)
        throw std::runtime_error("netlab: ip -batch could not add " + std::to_string(addressesWithPrefix.size()) +
                                 " addresses to " + interface + " of host " + name_);
}

pid_t Host::Spawn(const std::vector<std::string>& argv, const std::string& outputFile)
{
    pid_t pid = SpawnIn(namespaceFd_, argv, outputFile);
    spawned_.push_back(pid);
    return pid;
}

int Host::Stop(pid_t pid, std::chrono::milliseconds timeout)
{
    if (std::find(spawned_.begin(), spawned_.end(), pid) == spawned_.end()) return -1;
    kill(pid, SIGTERM);
    return Wait(pid, timeout);
}

int Host::Wait(pid_t pid, std::chrono::milliseconds timeout)
{
    auto known = std::find(spawned_.begin(), spawned_.end(), pid);
    if (known == spawned_.end()) return -1;
    spawned_.erase(known);
    auto deadline = std::chrono::steady_clock::now() + timeout;
    int status = 0;
    while (std::chrono::steady_clock::now() < deadline) {
        pid_t done = waitpid(pid, &status, WNOHANG);
        if (done == pid) return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        if (done < 0 && errno != EINTR) return -1;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    kill(pid, SIGKILL);
    WaitForChild(pid);
    return -1;
}

int Host::Poll(pid_t pid)
{
    auto known = std::find(spawned_.begin(), spawned_.end(), pid);
    if (known == spawned_.end()) return -1;
    int status = 0;
    pid_t done = waitpid(pid, &status, WNOHANG);
    if (done != pid) return -1;
    spawned_.erase(known);
    if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

void Host::KillLeftovers() const
{
    if (holder_ <= 0) return;
    const std::string ours = NamespaceLink(holder_);
    if (ours.empty()) return;
    DIR* processes = opendir("/proc");
    if (processes == nullptr) return;
    std::vector<pid_t> found;
    while (dirent* entry = readdir(processes)) {
        char* end = nullptr;
        long pid = std::strtol(entry->d_name, &end, 10);
        if (*end != '\0' || pid <= 0 || pid == holder_ || pid == getpid()) continue;
        if (NamespaceLink(static_cast<pid_t>(pid)) == ours) found.push_back(static_cast<pid_t>(pid));
    }
    closedir(processes);
    // What is left was started by what we spawned: its parents are gone.
    for (pid_t pid : found) kill(pid, SIGKILL);
}

Host::Inside::Inside(const Host& host)
{
    previousNamespace_ = open("/proc/thread-self/ns/net", O_RDONLY | O_CLOEXEC);
    if (previousNamespace_ < 0 || setns(host.namespaceFd_, CLONE_NEWNET) != 0)
        throw std::runtime_error("netlab: cannot enter host " + host.name());
}

Host::Inside::~Inside()
{
    setns(previousNamespace_, CLONE_NEWNET);
    close(previousNamespace_);
}

}  // namespace netlab
