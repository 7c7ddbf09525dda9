#include "broadcast_reply.h"

#include "bounded_text.h"
#include "engine/wire/wire_protocol.h"

#include <searchdevice/dhcppacket.h>

#include <cstring>

int ParseBroadcastReply(const unsigned char* reply, deviceinfo& device)
{
    constexpr int kLimit = DEVICEINFO_TEXT_SIZE - 1;
    device.type = reply[1];
    // The text area need not hold a zero: a full one ends with the datagram.
    const char* text = reinterpret_cast<const char*>(reply + DHCPPACKET_TEXT_OFFSET);
    GetReplyValue(text, DHCPPACKET_TEXT_SIZE, device.id, kLimit, wire::kReplyIdKey);
    GetReplyValue(text, DHCPPACKET_TEXT_SIZE, device.host, kLimit, wire::kReplyHostKey);
    GetReplyValue(text, DHCPPACKET_TEXT_SIZE, device.factory, kLimit, wire::kReplyVendorKey);
    GetReplyValue(text, DHCPPACKET_TEXT_SIZE, device.product, kLimit, wire::kReplyProductKey);
    return 1;
}

int GetReplyValue(const char* text, std::size_t textSize, char* destination, int limit, const char* key)
{
    const char* end = bounded::TextEnd(text, textSize);
    const std::size_t keySize = std::strlen(key);
    const char* found = keySize > 0 ? bounded::Find(text, end, key, keySize) : nullptr;
    if (found == nullptr) return 0;

    const char* value = found + keySize;
    const char* valueEnd = bounded::FindChar(value, end, '&');
    if (valueEnd == nullptr) valueEnd = end;
    std::size_t count = static_cast<std::size_t>(valueEnd - value);
    if (limit < 0) limit = 0;
    if (count > static_cast<std::size_t>(limit)) count = static_cast<std::size_t>(limit);
    std::memcpy(destination, value, count);
    destination[count] = '\0';
    return 1;
}
