// Every constant and every message that appears on the wire, in one place:
// ports, addresses, the request, the answer and the announcements, and the
// sizes of what is sent and received. The engine and the simulator build
// their datagrams from here; the engine's parsers look for the texts below.
#pragma once

#include <cstddef>

// The group and its port as texts, so that whole messages are single literals.
#define WIRE_MULTICAST_GROUP "239.143.255.250"
#define WIRE_MULTICAST_PORT "1900"

namespace wire {

// Broadcast search: sent from port 67 to the limited broadcast address, port 68.
constexpr int kBroadcastSearchPort = 67;
constexpr int kBroadcastReplyPort = 68;
constexpr char kBroadcastAddress[] = "255.255.255.255";

// SSDP-style search on a private group (not the group of published SSDP).
constexpr char kMulticastGroup[] = WIRE_MULTICAST_GROUP;
constexpr int kMulticastPort = 1900;

namespace detail {
constexpr int PortNumber(const char* digits, int value = 0)
{
    return *digits == '\0' ? value : PortNumber(digits + 1, value * 10 + (*digits - '0'));
}
}  // namespace detail
static_assert(detail::PortNumber(WIRE_MULTICAST_PORT) == kMulticastPort, "one group port, as number and as text");

// Per-address workers: the first gets 1530, each further one 20 more, up to
// the highest port there is (about 3200 workers).
constexpr int kFirstCommandPort = 1530;
constexpr int kCommandPortStep = 20;
constexpr int kHighestPort = 65535;

// A worker whose bind fails may move up one port at a time, this often in its life.
constexpr int kMaxPortRetries = 20;

// Only datagrams that carry this firmware token are considered at all.
constexpr char kDeviceToken[] = "VELD";

// What the SSDP parser looks for in answers and announcements. All are
// matched case-sensitively, anywhere in the datagram.
constexpr char kAnswerStart[] = "HTTP";    // first bytes of an answer
constexpr char kNotifyStart[] = "NOTIFY";  // first bytes of an announcement
constexpr char kLocationHeader[] = "LOCATION:";  // its URL's host must be an address a device can have
constexpr char kServerHeader[] = "SERVER:";
constexpr char kServerToken[] = "VELD/";   // the firmware token, then its version, in SERVER
constexpr char kUsnHeader[] = "USN:";
constexpr char kUuidPrefix[] = "uuid:";
constexpr char kNtsHeader[] = "NTS:";
constexpr char kRootDevice[] = "rootdevice";  // an announcement without it is not a device's
constexpr char kAliveNts[] = "ssdp:alive";
constexpr char kByebyeNts[] = "ssdp:byebye";

// What a device looks for: the first bytes of a search request.
constexpr char kMSearchStart[] = "M-SEARCH ";

// Keys read from the text area of a broadcast reply: key=value pairs joined by '&'.
constexpr char kReplyIdKey[] = "id=";
constexpr char kReplyHostKey[] = "host=";
constexpr char kReplyVendorKey[] = "vendor=";
constexpr char kReplyProductKey[] = "product=";

// The request is sent without a terminator: 129 bytes.
constexpr char MSearchRequest[] =
    "M-SEARCH * HTTP/1.1\r\n"
    "HOST: " WIRE_MULTICAST_GROUP ":" WIRE_MULTICAST_PORT "\r\n"
    "ST: urn:schemas-upnp-org:device:HomeNasDevice:1\r\n"
    "MAN: \"ssdp:discover\"\r\n"
    "MX: 3\r\n"
    "\r\n";
constexpr std::size_t kMSearchRequestSize = sizeof(MSearchRequest) - 1;
static_assert(kMSearchRequestSize == 129, "the M-SEARCH request is 129 bytes");

// What a device sends, as printf layouts it fills with its own texts.

// The text area of a broadcast reply; the values of id, host, vendor and product.
constexpr char kBroadcastReplyLayout[] = "id=%s&host=%s&vendor=%s&product=%s";

// The headers that name a device end the answer and both announcements; the
// values of ip, version, vendor, host, product, detail and id, in that order.
// The text between the two commas of SERVER is free: a device puts its
// protocol version there.
#define WIRE_DEVICE_HEADERS                        \
    "LOCATION: http://%s:80/desc.xml\r\n"          \
    "SERVER: VELD/%s, UPnP/1.0, %s/%s/%s/%s\r\n"   \
    "USN: uuid:%s::upnp:rootdevice\r\n"            \
    "\r\n"

// The unicast answer to an M-SEARCH.
constexpr char kSearchAnswerLayout[] = "HTTP/1.1 200 OK\r\n" WIRE_DEVICE_HEADERS;

// The announcements to the group when a device starts and when it stops.
constexpr char kNotifyAliveLayout[] =
    "NOTIFY * HTTP/1.1\r\n"
    "NT: upnp:rootdevice\r\n"
    "NTS: ssdp:alive\r\n" WIRE_DEVICE_HEADERS;
constexpr char kNotifyByebyeLayout[] =
    "NOTIFY * HTTP/1.1\r\n"
    "NT: upnp:rootdevice\r\n"
    "NTS: ssdp:byebye\r\n" WIRE_DEVICE_HEADERS;

#undef WIRE_DEVICE_HEADERS

// A datagram is received into this many bytes; the byte after them is always zero.
constexpr std::size_t kMaxDatagramSize = 1024;

// Answers come in bursts: a hundred devices answer one request within
// milliseconds, more than a default receive buffer holds.
constexpr int kReceiveBufferBytes = 4 * 1024 * 1024;

}  // namespace wire
