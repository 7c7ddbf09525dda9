#include "sim_messages.h"

#include "engine/wire/wire_protocol.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace sim {

namespace {

// A wire layout filled with the device's texts, one per %s in order.
template <typename... Texts>
std::string Fill(const char* layout, const Texts&... texts)
{
    const int size = std::snprintf(nullptr, 0, layout, texts.c_str()...);
    std::string text(static_cast<std::size_t>(std::max(size, 0)), '\0');
    std::snprintf(text.data(), text.size() + 1, layout, texts.c_str()...);
    return text;
}

std::string BroadcastReplyText(const SimDevice& device)
{
    return Fill(wire::kBroadcastReplyLayout, device.id, device.host, device.vendor, device.product);
}

}  // namespace

DHCPPACKET BuildBroadcastReply(const SimDevice& device)
{
    DHCPPACKET reply;
    std::memset(&reply, 0, sizeof reply);
    reply.op = DHCPPACKET_OP_REPLY;
    reply.type = 1;
    const std::string text = BroadcastReplyText(device);
    std::memcpy(reply.text, text.data(), std::min(text.size(), sizeof reply.text));
    return reply;
}

std::string BuildSearchAnswer(const SimDevice& device)
{
    return Fill(wire::kSearchAnswerLayout, device.ip, device.version, device.vendor, device.host, device.product,
                device.detail, device.id);
}

std::string BuildNotify(const SimDevice& device, bool alive)
{
    return Fill(alive ? wire::kNotifyAliveLayout : wire::kNotifyByebyeLayout, device.ip, device.version,
                device.vendor, device.host, device.product, device.detail, device.id);
}

bool IsBroadcastSearch(const unsigned char* data, std::size_t length)
{
    return length == DHCPPACKET_SIZE && data[0] == DHCPPACKET_OP_SEARCH;
}

bool IsMSearch(const char* data, std::size_t length)
{
    const std::size_t startLength = sizeof wire::kMSearchStart - 1;
    return length >= startLength && std::memcmp(data, wire::kMSearchStart, startLength) == 0;
}

}  // namespace sim
