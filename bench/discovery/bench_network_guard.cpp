#include "bench_network_guard.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

constexpr char kOriginVariable[] = "DISCOVERY_BENCH_ORIGIN";

ino_t NamespaceOf(const char* path)
{
    struct stat info {};
    return stat(path, &info) == 0 ? info.st_ino : 0;
}

bool InBenchmarkingRange(const in_addr& address) { return (ntohl(address.s_addr) & 0xFFFE0000u) == 0xC6120000u; }

[[noreturn]] void Refuse(const char* program, const std::string& why)
{
    std::fprintf(stderr,
                 "%s: refusing to run: %s.\n"
                 "It searches by broadcast and multicast, so it runs only inside the benchmark's own network;\n"
                 "run the benchmark with 'sudo make bench'.\n",
                 program, why.c_str());
    std::exit(1);
}

}  // namespace

void MarkBenchmarkOrigin(void)
{
    setenv(kOriginVariable, std::to_string(NamespaceOf("/proc/self/ns/net")).c_str(), 1);
}

void ExitUnlessInBenchmarkLab(const char* program)
{
    const ino_t ours = NamespaceOf("/proc/self/ns/net");
    if (ours == 0) Refuse(program, "cannot tell which network namespace this is");
    const char* origin = std::getenv(kOriginVariable);
    if (origin == nullptr) Refuse(program, "started by hand, not by the benchmark");
    if (std::to_string(ours) == origin) Refuse(program, "this is the network the benchmark was started in");
    // Hidden from us in some containers; the checks around it still hold.
    if (ours == NamespaceOf("/proc/1/ns/net")) Refuse(program, "this is the machine's own network namespace");

    ifaddrs* interfaces = nullptr;
    if (getifaddrs(&interfaces) != 0) Refuse(program, "cannot list the network addresses");
    std::string stranger;
    bool benchmarking = false;
    for (const ifaddrs* entry = interfaces; entry != nullptr; entry = entry->ifa_next) {
        if (entry->ifa_addr == nullptr || entry->ifa_addr->sa_family != AF_INET) continue;
        if (entry->ifa_flags & IFF_LOOPBACK) continue;
        const in_addr& address = reinterpret_cast<const sockaddr_in*>(entry->ifa_addr)->sin_addr;
        if (InBenchmarkingRange(address)) {
            benchmarking = true;
        } else if (stranger.empty()) {
            char text[INET_ADDRSTRLEN] = {};
            inet_ntop(AF_INET, &address, text, sizeof text);
            stranger = std::string(text) + " on " + entry->ifa_name;
        }
    }
    freeifaddrs(interfaces);
    if (!stranger.empty()) Refuse(program, "address " + stranger + " lies outside 198.18.0.0/15");
    if (!benchmarking) Refuse(program, "no address in 198.18.0.0/15: this is no host of the benchmark's lab");
}
