// What a search can reach: whether there is a network to search on, and
// which of the search's ports the engine holds. nasscout-cli asks once the
// engine has started, so that a user hears of a search that can find little
// or nothing, rather than reading an empty table as no devices.
#pragma once

#include <set>
#include <string>

namespace cli {

// Whether an interface that is up has an IPv4 address besides loopback.
bool HasIPv4Network();

// The local ports of the IPv4 UDP sockets this process holds: the engine's
// search sockets, in nasscout-cli.
std::set<int> HeldUdpPorts();

// Why this process cannot bind the broadcast search's port, 67: the error of
// a bind tried now (the socket is closed at once, nothing is sent), or an
// empty text when the bind succeeds.
std::string WhyNoPort67();

}  // namespace cli
