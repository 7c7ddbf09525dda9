#include "search_reach.h"

#include "engine/wire/wire_protocol.h"

#include <dirent.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace cli {

bool HasIPv4Network()
{
    ifaddrs* interfaces = nullptr;
    if (getifaddrs(&interfaces) != 0) return true;  // cannot tell: let the search say what it finds
    bool found = false;
    for (const ifaddrs* entry = interfaces; entry != nullptr && !found; entry = entry->ifa_next) {
        found = entry->ifa_addr != nullptr && entry->ifa_addr->sa_family == AF_INET && (entry->ifa_flags & IFF_UP) &&
                !(entry->ifa_flags & IFF_LOOPBACK);
    }
    freeifaddrs(interfaces);
    return found;
}

std::set<int> HeldUdpPorts()
{
    std::set<int> ports;
    DIR* descriptors = opendir("/proc/self/fd");
    if (descriptors == nullptr) return ports;
    for (const dirent* entry = readdir(descriptors); entry != nullptr; entry = readdir(descriptors)) {
        const int fd = std::atoi(entry->d_name);
        int type = 0;
        socklen_t length = sizeof type;
        sockaddr_in name{};
        socklen_t nameLength = sizeof name;
        if (entry->d_name[0] < '0' || entry->d_name[0] > '9' ||
            getsockopt(fd, SOL_SOCKET, SO_TYPE, &type, &length) != 0 || type != SOCK_DGRAM ||
            getsockname(fd, reinterpret_cast<sockaddr*>(&name), &nameLength) != 0 || name.sin_family != AF_INET)
            continue;
        ports.insert(ntohs(name.sin_port));
    }
    closedir(descriptors);
    return ports;
}

std::string WhyNoPort67()
{
    const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return std::string("socket: ") + std::strerror(errno);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(wire::kBroadcastSearchPort);
    const bool bound = bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
    const int error = errno;
    close(fd);
    return bound ? std::string() : std::string("bind: ") + std::strerror(error);
}

}  // namespace cli
