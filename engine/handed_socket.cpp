#include "handed_socket.h"

#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <charconv>
#include <cstdlib>
#include <cstring>

namespace {

constexpr int kFirstHandedDescriptor = 3;
// More than any launcher hands over; a bound on what is looked at.
constexpr long kMostHandedDescriptors = 64;

std::atomic<bool> g_bHandedSocketTaken{false};

// The variable's whole text as a positive decimal number, else 0.
long PositiveNumber(const char* variable)
{
    const char* text = std::getenv(variable);
    if (text == nullptr) return 0;
    const char* end = text + std::strlen(text);
    long value = 0;
    const auto [rest, error] = std::from_chars(text, end, value);
    return error == std::errc() && rest == end && value > 0 ? value : 0;
}

bool IsUdpSocketBoundTo(int fd, int port)
{
    int domain = 0, type = 0;
    socklen_t length = sizeof domain;
    if (getsockopt(fd, SOL_SOCKET, SO_DOMAIN, &domain, &length) != 0 || domain != AF_INET) return false;
    length = sizeof type;
    if (getsockopt(fd, SOL_SOCKET, SO_TYPE, &type, &length) != 0 || type != SOCK_DGRAM) return false;
    sockaddr_in name{};
    length = sizeof name;
    return getsockname(fd, reinterpret_cast<sockaddr*>(&name), &length) == 0 && name.sin_family == AF_INET &&
           ntohs(name.sin_port) == port;
}

}  // namespace

int TakeHandedSocket(int port)
{
    // A child of a program that was handed sockets inherits the variables,
    // not the sockets: LISTEN_PID tells them apart.
    if (PositiveNumber("LISTEN_PID") != getpid()) return -1;
    const long count = PositiveNumber("LISTEN_FDS");
    for (int fd = kFirstHandedDescriptor; fd < kFirstHandedDescriptor + count && fd < kMostHandedDescriptors; ++fd) {
        if (!IsUdpSocketBoundTo(fd, port)) continue;
        if (g_bHandedSocketTaken.exchange(true)) return -1;
        fcntl(fd, F_SETFD, FD_CLOEXEC);  // the helper had to leave it open across its exec; nobody after us
        return fd;
    }
    return -1;
}
