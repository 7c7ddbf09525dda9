#include "request_capture.h"

#include "engine/wire/wire_protocol.h"

#include <arpa/inet.h>
#include <linux/filter.h>
#include <linux/if_ether.h>
#include <linux/if_packet.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

namespace discovery {

namespace {

// Outgoing IPv4 UDP to port 68 or 1900; everything else stays in the kernel.
sock_filter kSearchRequests[] = {
    BPF_STMT(BPF_LD | BPF_B | BPF_ABS, static_cast<__u32>(SKF_AD_OFF + SKF_AD_PKTTYPE)),
    BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, PACKET_OUTGOING, 0, 9),
    BPF_STMT(BPF_LD | BPF_H | BPF_ABS, 12),  // EtherType
    BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, ETH_P_IP, 0, 7),
    BPF_STMT(BPF_LD | BPF_B | BPF_ABS, 23),  // IP protocol
    BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, IPPROTO_UDP, 0, 5),
    BPF_STMT(BPF_LDX | BPF_B | BPF_MSH, 14),  // IP header length
    BPF_STMT(BPF_LD | BPF_H | BPF_IND, 16),   // UDP destination port
    BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, wire::kBroadcastReplyPort, 1, 0),
    BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, wire::kMulticastPort, 0, 1),
    BPF_STMT(BPF_RET | BPF_K, 64),
    BPF_STMT(BPF_RET | BPF_K, 0),
};

std::runtime_error Failure(const std::string& what)
{
    return std::runtime_error("request capture: " + what + ": " + std::strerror(errno));
}

}  // namespace

RequestCapture::RequestCapture(const std::string& interface)
{
    const unsigned index = if_nametoindex(interface.c_str());
    if (index == 0) throw Failure("no interface " + interface);
    fd_ = socket(AF_PACKET, SOCK_RAW | SOCK_CLOEXEC, htons(ETH_P_ALL));
    if (fd_ < 0) throw Failure("packet socket");
    sock_fprog program{static_cast<unsigned short>(sizeof kSearchRequests / sizeof kSearchRequests[0]),
                       kSearchRequests};
    const int on = 1;
    sockaddr_ll local{};
    local.sll_family = AF_PACKET;
    local.sll_protocol = htons(ETH_P_ALL);
    local.sll_ifindex = static_cast<int>(index);
    if (setsockopt(fd_, SOL_SOCKET, SO_ATTACH_FILTER, &program, sizeof program) != 0 ||
        setsockopt(fd_, SOL_SOCKET, SO_TIMESTAMPNS, &on, sizeof on) != 0 ||
        bind(fd_, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0) {
        const std::runtime_error failure = Failure("listening on " + interface);
        close(fd_);
        throw failure;
    }
    // Whatever slipped in between socket() and the filter.
    Drain();
}

RequestCapture::~RequestCapture() { close(fd_); }

void RequestCapture::Drain()
{
    char frame[64];
    while (recv(fd_, frame, sizeof frame, MSG_DONTWAIT) >= 0) {
    }
}

long long RequestCapture::FirstRequestSince(long long sinceNs)
{
    long long first = 0;
    for (;;) {
        char frame[64];
        iovec vector{frame, sizeof frame};
        alignas(cmsghdr) char control[CMSG_SPACE(sizeof(timespec))];
        msghdr message{};
        message.msg_iov = &vector;
        message.msg_iovlen = 1;
        message.msg_control = control;
        message.msg_controllen = sizeof control;
        if (recvmsg(fd_, &message, MSG_DONTWAIT) < 0) return first;
        for (cmsghdr* header = CMSG_FIRSTHDR(&message); header != nullptr; header = CMSG_NXTHDR(&message, header)) {
            if (header->cmsg_level != SOL_SOCKET || header->cmsg_type != SCM_TIMESTAMPNS) continue;
            timespec stamp{};
            std::memcpy(&stamp, CMSG_DATA(header), sizeof stamp);
            const long long ns = static_cast<long long>(stamp.tv_sec) * 1000000000LL + stamp.tv_nsec;
            if (ns >= sinceNs && (first == 0 || ns < first)) first = ns;
        }
    }
}

}  // namespace discovery
