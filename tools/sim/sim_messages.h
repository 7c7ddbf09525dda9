// The datagrams a simulated device sends, and the tests that tell which
// received datagrams are searches it must answer.
#pragma once

#include "sim_device.h"

#include <searchdevice/dhcppacket.h>

#include <cstddef>
#include <string>

namespace sim {

// The 148-byte reply to a broadcast search: op code 12, type 1 (an answer)
// and "id=...&host=...&vendor=...&product=..." in the text area. The text
// must fit the area (CheckDevice sees to that).
DHCPPACKET BuildBroadcastReply(const SimDevice& device);

// The unicast answer to an M-SEARCH.
std::string BuildSearchAnswer(const SimDevice& device);

// The NOTIFY sent to the group: ssdp:alive when `alive`, else ssdp:byebye.
std::string BuildNotify(const SimDevice& device, bool alive);

// A broadcast search request is exactly 148 bytes with op code 11.
bool IsBroadcastSearch(const unsigned char* data, std::size_t length);

// An M-SEARCH request starts with its method; nothing else in it matters here.
bool IsMSearch(const char* data, std::size_t length);

}  // namespace sim
