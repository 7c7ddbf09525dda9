// What the simulator promises about the devices it accepts and the messages
// it refuses with, checked by the targets that feed it.
#pragma once

#include "engine/broadcast_reply.h"
#include "engine/ssdp_message.h"
#include "fuzz_check.h"
#include "tools/sim/sim_device.h"
#include "tools/sim/sim_messages.h"

#include <string>

namespace fuzz {

// The engine keeps 31 bytes of each text, and the simulator accepts no more.
inline bool ReadsAs(const char* field, const std::string& value) { return value == field; }

// An accepted device reads back unchanged through the engine's parse of
// each datagram the simulator sends for it.
inline void CheckReadsBack(const sim::SimDevice& device)
{
    for (const std::string& datagram :
         {sim::BuildSearchAnswer(device), sim::BuildNotify(device, true), sim::BuildNotify(device, false)}) {
        deviceinfo record;
        FUZZ_CHECK(ParseSsdpMessage(datagram.data(), datagram.size(), "192.0.2.99", record));
        FUZZ_CHECK(ReadsAs(record.ip, device.ip) && ReadsAs(record.id, device.id) &&
                   ReadsAs(record.factory, device.vendor) && ReadsAs(record.host, device.host) &&
                   ReadsAs(record.product, device.product) && ReadsAs(record.detail, device.detail) &&
                   ReadsAs(record.version, device.version));
    }
    const DHCPPACKET reply = sim::BuildBroadcastReply(device);
    deviceinfo record;
    ParseBroadcastReply(reinterpret_cast<const unsigned char*>(&reply), record);
    FUZZ_CHECK(ReadsAs(record.id, device.id) && ReadsAs(record.host, device.host) &&
               ReadsAs(record.factory, device.vendor) && ReadsAs(record.product, device.product));
}

// A refusal is one line a terminal shows as it is: no control characters.
inline bool IsOnePrintableLine(const std::string& message)
{
    if (message.empty()) return false;
    for (unsigned char c : message) {
        if (c < 0x20 || c == 0x7F) return false;
    }
    return true;
}

}  // namespace fuzz
