#include "engine/broadcast_reply.h"

#include <searchdevice/dhcppacket.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>

namespace {

// A reply as the receive loop holds it, followed by bytes that are not part
// of it: they must never turn up in a field.
struct ReceivedReply {
    unsigned char bytes[DHCPPACKET_SIZE] = {};
    char after[8] = {'c', 't', '=', 'T', 'A', 'I', 'L', '&'};
};

std::string FullTextEndingWith(const std::string& tail)
{
    return std::string(DHCPPACKET_TEXT_SIZE - tail.size(), 'x') + tail;
}

// Every field of a parsed reply, as id|host|factory|product|ip|detail|version|type|lifetime.
std::string Fields(const deviceinfo& device)
{
    return std::string(device.id) + "|" + device.host + "|" + device.factory + "|" + device.product + "|" + device.ip + "|" +
           device.detail + "|" + device.version + "|" + std::to_string(device.type) + "|" + std::to_string(device.lifetime);
}

TEST(BroadcastReply, TextFillsTheFourKeyedFieldsWithinTheDatagram)
{
    // The type byte is 255 throughout: it is copied as an unsigned value.
    const struct {
        const char* what;
        std::string text;  // fills the text area from its start; at 128 characters it has no zero
        std::string fields;
    } cases[] = {
        {"all four, the last without '&'", "id=A1&host=nas&vendor=x&product=y", "A1|nas|x|y||||255|60"},
        {"keys anywhere in the text", "product=y&host=xid=5", "5|xid=5||y||||255|60"},
        {"empty or missing values", "id=&host=h", "|h||||||255|60"},
        {"a value longer than its field", "host=" + std::string(40, 'h') + "&id=7", "7|" + std::string(31, 'h') + "||||||255|60"},
        {"a zero ends the text", std::string("id=A1\0host=nas", 14), "A1|||||||255|60"},
        // A text area with no zero ends with the datagram, not at the next zero in memory.
        {"full text area", FullTextEndingWith("&product=abcde"), "|||abcde||||255|60"},
        {"full text area, empty value", FullTextEndingWith("&product="), "|||||||255|60"},
        // "produ" here and "ct=" after the datagram must not make a key.
        {"full text area, key cut", FullTextEndingWith("&produ"), "|||||||255|60"},
    };
    for (const auto& test : cases) {
        ReceivedReply reply;
        reply.bytes[0] = DHCPPACKET_OP_REPLY;
        reply.bytes[1] = 255;
        std::memcpy(reply.bytes + DHCPPACKET_TEXT_OFFSET, test.text.data(),
                    std::min<std::size_t>(test.text.size(), DHCPPACKET_TEXT_SIZE));
        deviceinfo device;
        EXPECT_EQ(ParseBroadcastReply(reply.bytes, device), 1) << test.what;
        EXPECT_EQ(Fields(device), test.fields) << test.what;
    }
}

}  // namespace
