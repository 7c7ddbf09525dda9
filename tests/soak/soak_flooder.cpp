// soak_flooder: sends random and near-miss datagrams at a finder's ports for
// the soak test. None of them may become a listed device: each near miss is a
// device's datagram of a listed vendor with exactly one fault, and none is a
// well-formed bye-bye, which the engine accepts from anyone by design.
//
// It floods whatever network it is in, so it runs only where a lab put it: in
// a network namespace other than its parent's (the lab's owner) and towards a
// lab address. Started by hand, it shares its shell's namespace and refuses.
#include "engine/wire/wire_protocol.h"
#include "lab/netlab.h"
#include "tools/sim/sim_messages.h"

#include <boost/asio/ip/udp.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/program_options.hpp>

#include <searchdevice/deviceinfo.h>
#include <searchdevice/dhcppacket.h>

#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <random>
#include <string>
#include <thread>
#include <vector>

namespace {

namespace asio = boost::asio;
using asio::ip::udp;
using Clock = std::chrono::steady_clock;
using Random = std::mt19937_64;

volatile std::sig_atomic_t g_stop = 0;

void OnStopSignal(int) { g_stop = 1; }

ino_t NetworkNamespace(pid_t pid)
{
    struct stat info {};
    const std::string path = "/proc/" + std::to_string(pid) + "/ns/net";
    return stat(path.c_str(), &info) == 0 ? info.st_ino : 0;
}

// 0 to count - 1.
std::size_t Pick(Random& random, std::size_t count)
{
    return std::uniform_int_distribution<std::size_t>(0, count - 1)(random);
}

std::string RandomBytes(Random& random, std::size_t size)
{
    std::string bytes(size, '\0');
    for (char& byte : bytes) byte = static_cast<char>(random());
    return bytes;
}

std::string Replace(std::string text, const std::string& from, const std::string& to)
{
    for (std::size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
    return text;
}

std::string Packet(const DHCPPACKET& packet)
{
    return std::string(reinterpret_cast<const char*>(&packet), sizeof packet);
}

// Where a kind of datagram is sent.
enum class Ports { Ssdp, Broadcast, All };

// A kind of near miss or noise: a device's search answer (a real device's
// bye-bye) bent by one of `changes`, picked at random, or else made by `make`.
struct Kind {
    const char* name;
    Ports ports;
    std::vector<std::pair<std::string, std::string>> changes;  // (from, to) in a search answer or a bye-bye
    std::string (*make)(Random&, sim::SimDevice&) = nullptr;
    bool realDevice = false;  // bends a real device's bye-bye (or reply): must not make it leave
    unsigned long long sent = 0;
};

// Cut before the identifier is complete.
std::string Truncated(Random& random, sim::SimDevice& device)
{
    const std::string answer = sim::BuildSearchAnswer(device);
    return answer.substr(0, Pick(random, answer.find("::", answer.find(wire::kUuidPrefix)) + 1));
}

// Padding ahead of the headers pushes the identifier past what the engine reads.
std::string Oversized(Random& random, sim::SimDevice& device)
{
    const std::string padding = "X-Padding: " + std::string(wire::kMaxDatagramSize + Pick(random, 200), 'x');
    return Replace(sim::BuildSearchAnswer(device), "OK\r\n", "OK\r\n" + padding + "\r\n");
}

// The protocol's words in random order with random bytes between them; no
// listed vendor and no real id, so nothing in it can be listed.
std::string TokenSoup(Random& random, sim::SimDevice&)
{
    static const std::vector<std::string> kWords = {
        wire::kAnswerStart, wire::kNotifyStart, wire::kLocationHeader, wire::kServerHeader, wire::kServerToken,
        wire::kUsnHeader, wire::kUuidPrefix, wire::kNtsHeader, wire::kRootDevice, wire::kAliveNts,
        wire::kByebyeNts, wire::MSearchRequest, "::", "http://", "\r\n", ", ", "/", "203.0.113.70", ":80"};
    std::string soup;
    for (std::size_t count = 1 + Pick(random, 40); count > 0; --count)
        soup += random() % 3 ? kWords[Pick(random, kWords.size())] : RandomBytes(random, Pick(random, 8));
    return soup;
}

// Random bytes, up to what one Ethernet frame carries.
std::string Noise(Random& random, sim::SimDevice&) { return RandomBytes(random, Pick(random, 1473)); }

// A broadcast reply of any length but the one.
std::string ReplyOfWrongSize(Random& random, sim::SimDevice& device)
{
    const std::string reply = Packet(sim::BuildBroadcastReply(device));
    if (random() & 1) return reply.substr(0, Pick(random, DHCPPACKET_SIZE));
    return reply + RandomBytes(random, 1 + Pick(random, 400));
}

// Another op code (a search request among them), or a report kind that is
// none of answer, alive and bye-bye.
std::string ReplyHeader(Random& random, sim::SimDevice& device)
{
    DHCPPACKET reply = sim::BuildBroadcastReply(device);
    const bool op = random() & 1;
    unsigned char& byte = op ? reply.op : reply.type;
    do byte = static_cast<unsigned char>(random());
    while (op ? byte == DHCPPACKET_OP_REPLY
              : byte == DEVICE_TYPE_ANSWER || byte == DEVICE_TYPE_ALIVE || byte == DEVICE_TYPE_BYEBYE);
    return Packet(reply);
}

// A key in the wrong case (a bye-bye whose "ID=" names a real device), or
// a vendor cut short by the end of the text area.
std::string ReplyKeys(Random& random, sim::SimDevice& device)
{
    DHCPPACKET reply = sim::BuildBroadcastReply(device);
    switch (Pick(random, 3)) {
    case 0:
        return Replace(Packet(reply), wire::kReplyVendorKey, "Vendor=");
    case 1:
        reply.type = DEVICE_TYPE_BYEBYE;
        return Replace(Packet(reply), wire::kReplyIdKey, "ID=");
    default:
        device.host.assign(DHCPPACKET_TEXT_SIZE - std::strlen("id=&host=&vendor=ZOR") - device.id.size(), 'h');
        return Packet(sim::BuildBroadcastReply(device));
    }
}

// Every kind; each is sent in turn.
std::vector<Kind> Kinds()
{
    std::vector<std::pair<std::string, std::string>> hosts;  // LOCATION hosts that are no dotted IPv4 address
    for (const char* host : {"", "198.51.100.20@203.0.113.5", " 203.0.113.70", "203.0.113. 70", "\"203.0.113.70\"",
                             "nas.invalid", "203.0.113.256", "203.0.113", "203.0.113.70.1", "-1.0.113.70"})
        hosts.push_back({"//203.0.113.70:", std::string("//") + host + ":"});
    hosts.push_back({"203.0.113.70:80/desc.xml\r\n", "203.0.113.70"});  // no line end: runs on into SERVER
    return {
        {"truncated", Ports::Ssdp, {}, Truncated},
        {"oversized", Ports::Ssdp, {}, Oversized},
        // Not LOCATION: without one, the sender's address is the device's by design.
        {"wrong-case", Ports::Ssdp,
         {{"USN:", "usn:"}, {"uuid:", "UUID:"}, {"HTTP/", "http/"}, {"VELD/", "veld/"}, {"SERVER:", "Server:"}}},
        {"location-host", Ports::Ssdp, hosts},
        {"usn-without-id", Ports::Ssdp, {{"uuid:", ""}, {"::upnp:rootdevice", ""}}},
        {"no-token", Ports::Ssdp, {{"VELD/", "VELT/"}}},
        // NTS neither alive nor bye-bye (case counts), not a root device, no NTS header.
        {"near-byebye", Ports::Ssdp,
         {{"ssdp:byebye", "ssdp:update"}, {"ssdp:byebye", "ssdp:ByeBye"}, {"ssdp:byebye", ""},
          {"rootdevice", "device"}, {"NTS:", "NTS"}}, nullptr, true},
        {"token-soup", Ports::Ssdp, {}, TokenSoup},
        {"reply-size", Ports::Broadcast, {}, ReplyOfWrongSize},
        {"reply-header", Ports::Broadcast, {}, ReplyHeader, true},
        {"reply-keys", Ports::Broadcast, {}, ReplyKeys, true},
        {"random", Ports::All, {}, Noise},
    };
}

// One datagram of `kind`. Its device is of a listed vendor with an id of its
// own, so that a near miss the engine takes is listed under its kind's name.
std::string Datagram(Random& random, const Kind& kind, const std::vector<std::string>& realIds)
{
    char id[32];
    std::snprintf(id, sizeof id, "soak-%s-%04x", kind.name, static_cast<unsigned>(random() & 0xFFFF));
    sim::SimDevice device{"203.0.113.70", id, "soak", "ZORVA", "NS200", "A1", "2.1.0"};
    if (kind.realDevice && !realIds.empty()) device.id = realIds[Pick(random, realIds.size())];
    if (kind.make != nullptr) return kind.make(random, device);
    const auto& [from, to] = kind.changes[Pick(random, kind.changes.size())];
    return Replace(kind.realDevice ? sim::BuildNotify(device, false) : sim::BuildSearchAnswer(device), from, to);
}

}  // namespace

int main(int argc, char** argv)
{
    namespace po = boost::program_options;
    std::string to;
    int seconds = 10;
    long rate = 0;
    unsigned long long seed = std::random_device()();
    std::vector<std::string> realIds;
    po::options_description options("soak_flooder options");
    options.add_options()
        ("to", po::value(&to)->required(), "the finder's address (a lab address)")
        ("seconds", po::value(&seconds), "how long to flood (10)")
        ("rate", po::value(&rate), "datagrams a second; 0: as fast as it can (0)")
        ("seed", po::value(&seed), "seed of the random choices, to repeat a flood")
        ("real-id", po::value(&realIds), "id of a real device, named by near-miss bye-byes; repeatable");
    try {
        po::variables_map values;
        po::store(po::parse_command_line(argc, argv, options), values);
        po::notify(values);
    } catch (const std::exception& error) {
        std::cerr << "soak_flooder: " << error.what() << "\n" << options;
        return 2;
    }
    const ino_t ours = NetworkNamespace(getpid());
    const ino_t parents = NetworkNamespace(getppid());
    if (ours == 0 || parents == 0 || ours == parents) {
        std::cerr << "soak_flooder: refusing to run: it floods the network it is in, so it runs only in a host "
                     "of a network lab, started by the lab's owner (the soak test)\n";
        return 1;
    }
    if (!netlab::IsLabAddress(to)) {
        std::cerr << "soak_flooder: --to " << to << " is not a lab address\n";
        return 2;
    }

    std::signal(SIGTERM, OnStopSignal);
    std::signal(SIGINT, OnStopSignal);
    asio::io_context io;
    udp::socket socket(io, udp::v4());
    const auto finder = asio::ip::make_address_v4(to);
    const auto group = asio::ip::make_address_v4(wire::kMulticastGroup);
    const std::vector<udp::endpoint> ssdpPorts = {
        {finder, wire::kMulticastPort}, {group, wire::kMulticastPort}, {finder, wire::kFirstCommandPort}};
    const std::vector<udp::endpoint> broadcastPorts = {{finder, wire::kBroadcastSearchPort}};
    std::vector<udp::endpoint> allPorts = ssdpPorts;
    allPorts.push_back(broadcastPorts.front());

    std::vector<Kind> kinds = Kinds();
    Random random(seed);
    const Clock::time_point start = Clock::now();
    const Clock::time_point end = start + std::chrono::seconds(seconds);
    unsigned long long sent = 0, failed = 0;
    for (unsigned long long count = 0; !g_stop; ++count) {
        // The clock and the pace are looked at every few datagrams only.
        if (count % 32 == 0) {
            if (Clock::now() >= end) break;
            if (rate > 0) std::this_thread::sleep_until(start + std::chrono::microseconds(count * 1000000 / rate));
        }
        Kind& kind = kinds[count % kinds.size()];
        const std::vector<udp::endpoint>& ports =
            kind.ports == Ports::Ssdp ? ssdpPorts : kind.ports == Ports::All ? allPorts : broadcastPorts;
        const std::string datagram = Datagram(random, kind, realIds);
        boost::system::error_code error;
        socket.send_to(asio::buffer(datagram), ports[(count / kinds.size()) % ports.size()], 0, error);
        if (error) {
            ++failed;
            continue;
        }
        ++sent;
        ++kind.sent;
    }
    const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
    std::printf("soak_flooder: sent %llu datagrams in %.1f s (%.0f a second, seed %llu, %llu sends failed)\n", sent,
                elapsed, sent / elapsed, seed, failed);
    for (const Kind& kind : kinds) std::printf("soak_flooder:   %-15s %llu\n", kind.name, kind.sent);
    return 0;
}
