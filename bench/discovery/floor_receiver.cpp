// The benchmark's floor: about the least work a program can do to find the
// devices. It sends the engine's M-SEARCH once, reads the answers in batches
// with recvmmsg into an 8 MiB receive buffer and counts their distinct
// senders. After SECONDS it prints one JSON line:
//   {"senders": K, "datagrams": D, "last_ns": T}
// T is the CLOCK_REALTIME of the batch that brought the last new sender (0
// when none came), so that the driver can set it against the request it saw.
//
//   discovery_floor SECONDS
#include "engine/wire/wire_protocol.h"
#include "lab/network_guard.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unordered_set>

namespace {

constexpr int kReceiveBufferBytes = 8 * 1024 * 1024;
constexpr unsigned kBatch = 64;
constexpr char kAnswerStart[] = "HTTP";

long long RealtimeNs()
{
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    return static_cast<long long>(now.tv_sec) * 1000000000LL + now.tv_nsec;
}

[[noreturn]] void Fail(const char* what)
{
    std::fprintf(stderr, "discovery_floor: %s: %s\n", what, std::strerror(errno));
    std::exit(1);
}

// The socket, with its large receive buffer, once it has sent the M-SEARCH.
int SendSearch()
{
    const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) Fail("socket");
    // Forced past rmem_max where we may (root in the lab); the plain request otherwise.
    if (setsockopt(fd, SOL_SOCKET, SO_RCVBUFFORCE, &kReceiveBufferBytes, sizeof kReceiveBufferBytes) != 0 &&
        setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &kReceiveBufferBytes, sizeof kReceiveBufferBytes) != 0)
        Fail("receive buffer");
    sockaddr_in group{};
    group.sin_family = AF_INET;
    group.sin_port = htons(wire::kMulticastPort);
    inet_pton(AF_INET, wire::kMulticastGroup, &group.sin_addr);
    if (sendto(fd, wire::MSearchRequest, wire::kMSearchRequestSize, 0, reinterpret_cast<sockaddr*>(&group),
               sizeof group) < 0)
        Fail("sending the M-SEARCH");
    return fd;
}

}  // namespace

int main(int argc, char** argv)
{
    char* end = nullptr;
    const long seconds = argc == 2 ? std::strtol(argv[1], &end, 10) : 0;
    if (argc != 2 || *end != '\0' || seconds < 1 || seconds > 3600) {
        std::fprintf(stderr, "Usage: discovery_floor SECONDS (1 to 3600)\n");
        return 2;
    }
    ExitUnlessInLab("discovery_floor");
    const int fd = SendSearch();

    std::array<std::array<char, wire::kMaxDatagramSize>, kBatch> buffers;
    std::array<sockaddr_in, kBatch> senders;
    std::array<iovec, kBatch> vectors;
    std::array<mmsghdr, kBatch> messages{};
    for (unsigned index = 0; index < kBatch; ++index) {
        vectors[index] = {buffers[index].data(), buffers[index].size()};
        messages[index].msg_hdr.msg_iov = &vectors[index];
        messages[index].msg_hdr.msg_iovlen = 1;
        messages[index].msg_hdr.msg_name = &senders[index];
    }

    std::unordered_set<in_addr_t> found;
    found.reserve(8192);
    long long datagrams = 0;
    long long lastNs = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) break;
        pollfd readable{fd, POLLIN, 0};
        if (poll(&readable, 1, static_cast<int>(left.count()) + 1) <= 0) continue;
        for (;;) {
            for (mmsghdr& message : messages) message.msg_hdr.msg_namelen = sizeof(sockaddr_in);
            const int got = recvmmsg(fd, messages.data(), kBatch, MSG_DONTWAIT, nullptr);
            if (got <= 0) break;
            datagrams += got;
            bool newSender = false;
            for (int index = 0; index < got; ++index) {
                if (messages[index].msg_len < sizeof kAnswerStart - 1 ||
                    std::memcmp(buffers[index].data(), kAnswerStart, sizeof kAnswerStart - 1) != 0)
                    continue;
                newSender = found.insert(senders[index].sin_addr.s_addr).second || newSender;
            }
            if (newSender) lastNs = RealtimeNs();
        }
    }
    std::printf("{\"senders\": %zu, \"datagrams\": %lld, \"last_ns\": %lld}\n", found.size(), datagrams, lastNs);
    return 0;
}
