// Every constant that appears on the wire, in one place: ports, addresses,
// the search texts and the sizes of what is sent and received. The engine,
// the simulator and the tests all build their datagrams from these.
#pragma once

#include <cstddef>

namespace wire {

// Broadcast search: sent from port 67 to the limited broadcast address, port 68.
constexpr int kBroadcastSearchPort = 67;
constexpr int kBroadcastReplyPort = 68;
constexpr char kBroadcastAddress[] = "255.255.255.255";

// SSDP-style search on a private group (not the group of published SSDP).
constexpr char kMulticastGroup[] = "239.143.255.250";
constexpr int kMulticastPort = 1900;

// Per-address workers: the first gets 1530, each further one 20 more.
constexpr int kFirstCommandPort = 1530;
constexpr int kCommandPortStep = 20;

// A worker whose bind fails may move up one port at a time, this often in its life.
constexpr int kMaxPortRetries = 20;

// Only datagrams that carry this firmware token are considered at all.
constexpr char kDeviceToken[] = "VELD";

// What the SSDP parser looks for in answers and announcements. All are
// matched case-sensitively, anywhere in the datagram.
constexpr char kAnswerStart[] = "HTTP";    // first bytes of an answer
constexpr char kNotifyStart[] = "NOTIFY";  // first bytes of an announcement
constexpr char kLocationHeader[] = "LOCATION:";
constexpr char kServerHeader[] = "SERVER:";
constexpr char kServerToken[] = "VELD/";   // the firmware token, then its version, in SERVER
constexpr char kUsnHeader[] = "USN:";
constexpr char kUuidPrefix[] = "uuid:";
constexpr char kNtsHeader[] = "NTS:";
constexpr char kRootDevice[] = "rootdevice";  // an announcement without it is not a device's
constexpr char kAliveNts[] = "ssdp:alive";
constexpr char kByebyeNts[] = "ssdp:byebye";

// Keys read from the text area of a broadcast reply: key=value pairs joined by '&'.
constexpr char kReplyIdKey[] = "id=";
constexpr char kReplyHostKey[] = "host=";
constexpr char kReplyVendorKey[] = "vendor=";
constexpr char kReplyProductKey[] = "product=";

// The request is sent without a terminator: 129 bytes.
constexpr char MSearchRequest[] =
    "M-SEARCH * HTTP/1.1\r\n"
    "HOST: 239.143.255.250:1900\r\n"
    "ST: urn:schemas-upnp-org:device:HomeNasDevice:1\r\n"
    "MAN: \"ssdp:discover\"\r\n"
    "MX: 3\r\n"
    "\r\n";
constexpr std::size_t kMSearchRequestSize = sizeof(MSearchRequest) - 1;
static_assert(kMSearchRequestSize == 129, "the M-SEARCH request is 129 bytes");

// A datagram is received into this many bytes; the byte after them is always zero.
constexpr std::size_t kMaxDatagramSize = 1024;

// Answers come in bursts: a hundred devices answer one request within
// milliseconds, more than a default receive buffer holds.
constexpr int kReceiveBufferBytes = 4 * 1024 * 1024;

}  // namespace wire
