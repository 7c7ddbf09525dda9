// soak_flooder: sends random and near-miss datagrams at a finder's ports for
// the soak test. None of them may become a listed device: each near miss is a
// device's datagram of a listed vendor with exactly one fault, and none is a
// well-formed bye-bye, which the engine accepts from anyone by design.
//
// It floods whatever network it is in, so it runs only where a lab put it: in
// a network namespace other than its parent's (the lab's owner) and towards a
// lab address. Started by hand, it shares its shell's namespace and refuses.
#include "netlab.h"
#include "sim_messages.h"
#include "wire_protocol.h"

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

// The ids of the real devices, which near-miss bye-byes name.
using RealIds = std::vector<std::string>;

// 0 to count - 1.
std::size_t Pick(Random& random, std::size_t count)
{
    return std::uniform_int_distribution<std::size_t>(0, count - 1)(random);
}

template <typename T>
const T& PickOf(Random& random, const std::vector<T>& choices)
{
    return choices[Pick(random, choices.size())];
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

// A device of a listed vendor with a fresh id, so that a near miss the
// engine takes shows up as a device of its own, named by its kind.
sim::SimDevice NearMiss(Random& random, const char* kind)
{
    char id[32];
    std::snprintf(id, sizeof id, "soak-%s-%04x", kind, static_cast<unsigned>(random() & 0xFFFF));
    return {"203.0.113.70", id, "soak", "ZORVA", "NS200", "A1", "2.1.0"};
}

sim::SimDevice RealDevice(Random& random, const RealIds& realIds)
{
    sim::SimDevice device = NearMiss(random, "real");
    if (!realIds.empty()) device.id = PickOf(random, realIds);
    return device;
}

// An answer cut before its identifier is complete.
std::string Truncated(Random& random, const RealIds&)
{
    const std::string answer = sim::BuildSearchAnswer(NearMiss(random, "cut"));
    const std::size_t identifierEnd = answer.find("::", answer.find(wire::kUuidPrefix));
    return answer.substr(0, Pick(random, identifierEnd + 1));
}

// Padding ahead of the headers pushes the identifier past what the engine reads.
std::string Oversized(Random& random, const RealIds&)
{
    std::string answer = sim::BuildSearchAnswer(NearMiss(random, "big"));
    const std::size_t statusEnd = answer.find("\r\n") + 2;
    const std::size_t padding = wire::kMaxDatagramSize + Pick(random, 200);
    return answer.insert(statusEnd, "X-Padding: " + std::string(padding, 'x') + "\r\n");
}

// A header the engine needs, in the wrong case. A lower-case LOCATION is not
// here: without one, the sender's address is the device's by design.
std::string WrongCase(Random& random, const RealIds&)
{
    static const std::vector<std::pair<std::string, std::string>> kChanges = {
        {"USN:", "usn:"}, {"uuid:", "UUID:"}, {"HTTP/1.1 200", "http/1.1 200"},
        {"VELD/", "veld/"}, {"SERVER:", "Server:"}};
    const auto& change = PickOf(random, kChanges);
    return Replace(sim::BuildSearchAnswer(NearMiss(random, "case")), change.first, change.second);
}

// LOCATION without its line end: last and unterminated, or, without port and
// path, running on into the next header.
std::string MissingLineEnd(Random& random, const RealIds&)
{
    const sim::SimDevice device = NearMiss(random, "crlf");
    const std::string location = "LOCATION: http://" + device.ip;
    std::string answer = sim::BuildSearchAnswer(device);
    const std::size_t start = answer.find(wire::kLocationHeader);
    answer.erase(start, answer.find("\r\n", start) + 2 - start);
    if (random() & 1) return answer.substr(0, answer.size() - 2) + location;
    return answer.insert(start, location);
}

// A LOCATION host that is not a dotted IPv4 address.
std::string LocationHost(Random& random, const RealIds&)
{
    static const std::vector<std::string> kHosts = {
        "", "198.51.100.20@203.0.113.5", " 203.0.113.70", "203.0.113. 70", "\"203.0.113.70\"",
        "nas.invalid", "203.0.113.256", "203.0.113", "203.0.113.70.1", "-1.0.113.70"};
    sim::SimDevice device = NearMiss(random, "host");
    device.ip = PickOf(random, kHosts);
    return sim::BuildSearchAnswer(device);
}

// USN without "uuid:", or without the "::" that ends the identifier.
std::string UsnWithoutIdentifier(Random& random, const RealIds&)
{
    const sim::SimDevice device = NearMiss(random, "usn");
    const std::string answer = sim::BuildSearchAnswer(device);
    if (random() & 1) return Replace(answer, wire::kUuidPrefix, "");
    return Replace(answer, device.id + "::upnp:rootdevice", device.id);
}

// Announcements the store must ignore, many of them naming a real device: an
// NTS other than alive or bye-bye (case counts), or a bye-bye that is not a
// root device's or has no NTS header.
std::string NearByebye(Random& random, const RealIds& realIds)
{
    const sim::SimDevice device = random() & 1 ? RealDevice(random, realIds) : NearMiss(random, "nts");
    const std::string byebye = sim::BuildNotify(device, false);
    switch (Pick(random, 5)) {
    case 0:
        return Replace(byebye, wire::kByebyeNts, "ssdp:update");
    case 1:
        return Replace(byebye, wire::kByebyeNts, "ssdp:ByeBye");
    case 2:
        return Replace(byebye, wire::kByebyeNts, "");
    case 3:
        return Replace(byebye, wire::kRootDevice, "device");
    default:
        return Replace(byebye, wire::kNtsHeader, "NTS");
    }
}

// Other clients' searches, and answers without the firmware token.
std::string Foreign(Random& random, const RealIds&)
{
    if (random() & 1) return std::string(wire::MSearchRequest, wire::kMSearchRequestSize);
    return Replace(sim::BuildSearchAnswer(NearMiss(random, "token")), wire::kServerToken, "VELT/");
}

// The protocol's words in random order with random text between them; no
// listed vendor and no real id, so nothing in it can be listed.
std::string TokenSoup(Random& random, const RealIds&)
{
    static const std::vector<std::string> kWords = {
        wire::kAnswerStart, wire::kNotifyStart, wire::kLocationHeader, wire::kServerHeader, wire::kServerToken,
        wire::kUsnHeader, wire::kUuidPrefix, wire::kNtsHeader, wire::kRootDevice, wire::kAliveNts,
        wire::kByebyeNts, "::", "http://", "\r\n", ", ", "/", " ", "203.0.113.70", ":80"};
    std::string soup;
    for (std::size_t count = 1 + Pick(random, 40); count > 0; --count)
        soup += random() % 3 ? PickOf(random, kWords) : RandomBytes(random, Pick(random, 8));
    return soup;
}

std::string RandomDatagram(Random& random, const RealIds&) { return RandomBytes(random, Pick(random, 1473)); }

std::string Packet(const DHCPPACKET& packet)
{
    return std::string(reinterpret_cast<const char*>(&packet), sizeof packet);
}

// A broadcast reply of any length but the one.
std::string ReplyOfWrongSize(Random& random, const RealIds&)
{
    const std::string reply = Packet(sim::BuildBroadcastReply(NearMiss(random, "size")));
    if (random() & 1) return reply.substr(0, DHCPPACKET_SIZE - 1 - Pick(random, DHCPPACKET_SIZE));
    return reply + RandomBytes(random, 1 + Pick(random, 400));
}

// A search request, or a reply with another op code.
std::string NotAReply(Random& random, const RealIds&)
{
    if (random() & 1) return Packet(DefaultSearchPacket());
    DHCPPACKET packet = sim::BuildBroadcastReply(NearMiss(random, "op"));
    do packet.op = static_cast<unsigned char>(random()); while (packet.op == DHCPPACKET_OP_REPLY);
    return Packet(packet);
}

// A reply whose report kind is none of answer, alive and bye-bye, often a real device's.
std::string ReplyOfNoKind(Random& random, const RealIds& realIds)
{
    DHCPPACKET packet = sim::BuildBroadcastReply(random() & 1 ? RealDevice(random, realIds) : NearMiss(random, "kind"));
    do packet.type = static_cast<unsigned char>(random());
    while (packet.type == DEVICE_TYPE_ANSWER || packet.type == DEVICE_TYPE_ALIVE || packet.type == DEVICE_TYPE_BYEBYE);
    return Packet(packet);
}

// A reply whose keys are in the wrong case (a bye-bye naming a real device
// with "ID="), or whose vendor is cut by the end of the text area.
std::string ReplyWithoutKeys(Random& random, const RealIds& realIds)
{
    switch (Pick(random, 3)) {
    case 0: {
        return Replace(Packet(sim::BuildBroadcastReply(NearMiss(random, "key"))), wire::kReplyVendorKey, "Vendor=");
    }
    case 1: {
        DHCPPACKET packet = sim::BuildBroadcastReply(RealDevice(random, realIds));
        packet.type = DEVICE_TYPE_BYEBYE;
        packet.text[0] = 'I';
        packet.text[1] = 'D';
        return Packet(packet);
    }
    default: {
        // A host long enough that the text area ends after "vendor=ZOR".
        sim::SimDevice device = NearMiss(random, "cut");
        device.host = std::string(DHCPPACKET_TEXT_SIZE - std::strlen("id=&host=&vendor=ZOR") - device.id.size(), 'h');
        return Packet(sim::BuildBroadcastReply(device));
    }
    }
}

enum class Ports { Ssdp, Broadcast, All };

struct Kind {
    const char* name;
    Ports ports;
    std::string (*make)(Random&, const RealIds&);
    unsigned long long sent = 0;
};

}  // namespace

int main(int argc, char** argv)
{
    namespace po = boost::program_options;
    std::string to;
    int seconds = 10;
    long rate = 0;
    unsigned long long seed = std::random_device()();
    RealIds realIds;
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

    std::vector<Kind> kinds = {
        {"truncated", Ports::Ssdp, Truncated},
        {"oversized", Ports::Ssdp, Oversized},
        {"wrong-case", Ports::Ssdp, WrongCase},
        {"missing-crlf", Ports::Ssdp, MissingLineEnd},
        {"location-host", Ports::Ssdp, LocationHost},
        {"usn-without-id", Ports::Ssdp, UsnWithoutIdentifier},
        {"near-byebye", Ports::Ssdp, NearByebye},
        {"foreign", Ports::Ssdp, Foreign},
        {"token-soup", Ports::Ssdp, TokenSoup},
        {"reply-size", Ports::Broadcast, ReplyOfWrongSize},
        {"reply-op", Ports::Broadcast, NotAReply},
        {"reply-kind", Ports::Broadcast, ReplyOfNoKind},
        {"reply-keys", Ports::Broadcast, ReplyWithoutKeys},
        {"random", Ports::All, RandomDatagram},
    };

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
        const std::string datagram = kind.make(random, realIds);
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
