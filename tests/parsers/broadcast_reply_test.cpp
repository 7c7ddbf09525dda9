#include "broadcast_reply.h"

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

// A full text area whose last characters are tail.
std::string FullTextEndingWith(const std::string& tail)
{
    return std::string(DHCPPACKET_TEXT_SIZE - tail.size(), 'x') + tail;
}

}  // namespace

TEST(BroadcastReply, TextFillsTheFourKeyedFieldsWithinTheDatagram)
{
    const std::string longHost(40, 'h'), keptHost(31, 'h');
    const struct {
        const char* what;
        std::string text;  // fills the text area from its start; at 128 characters it has no zero
        const char *id, *host, *factory, *product;
    } cases[] = {
        {"all four, the last without '&'", "id=A1&host=nas&vendor=x&product=y", "A1", "nas", "x", "y"},
        {"keys anywhere in the text", "product=y&host=xid=5", "5", "xid=5", "", "y"},
        {"empty or missing values", "id=&host=h", "", "h", "", ""},
        {"a value longer than its field", "host=" + longHost + "&id=7", "7", keptHost.c_str(), "", ""},
        {"a zero ends the text", std::string("id=A1\0host=nas", 14), "A1", "", "", ""},
        // A text area with no zero ends with the datagram, not at the next zero in memory.
        {"full text area", FullTextEndingWith("&product=abcde"), "", "", "", "abcde"},
        {"full text area, empty value", FullTextEndingWith("&product="), "", "", "", ""},
        // "produ" here and "ct=" after the datagram must not make a key.
        {"full text area, key cut", FullTextEndingWith("&produ"), "", "", "", ""},
    };
    for (const auto& test : cases) {
        SCOPED_TRACE(test.what);
        ReceivedReply reply;
        reply.bytes[0] = DHCPPACKET_OP_REPLY;
        reply.bytes[1] = 255;
        std::memcpy(reply.bytes + DHCPPACKET_TEXT_OFFSET, test.text.data(),
                    std::min<std::size_t>(test.text.size(), DHCPPACKET_TEXT_SIZE));
        deviceinfo device;
        EXPECT_EQ(ParseBroadcastReply(reply.bytes, device), 1);
        EXPECT_STREQ(device.id, test.id);
        EXPECT_STREQ(device.host, test.host);
        EXPECT_STREQ(device.factory, test.factory);
        EXPECT_STREQ(device.product, test.product);
        EXPECT_EQ(device.type, 255) << "the type byte is copied as an unsigned value";
        EXPECT_STREQ(device.ip, "");
        EXPECT_STREQ(device.detail, "");
        EXPECT_STREQ(device.version, "");
        EXPECT_EQ(device.lifetime, 60);
    }
}
