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

// text fills the text area from its start; at 128 characters it has no zero.
ReceivedReply MakeReply(unsigned char type, const std::string& text)
{
    ReceivedReply reply;
    reply.bytes[0] = DHCPPACKET_OP_REPLY;
    reply.bytes[1] = type;
    std::memcpy(reply.bytes + DHCPPACKET_TEXT_OFFSET, text.data(), std::min<std::size_t>(text.size(), DHCPPACKET_TEXT_SIZE));
    return reply;
}

deviceinfo Parse(const ReceivedReply& reply)
{
    deviceinfo device;
    EXPECT_EQ(ParseBroadcastReply(reply.bytes, device), 1);
    return device;
}

// A full text area whose last characters are tail.
std::string FullTextEndingWith(const std::string& tail)
{
    return std::string(DHCPPACKET_TEXT_SIZE - tail.size(), 'x') + tail;
}

}  // namespace

TEST(BroadcastReply, ReplyFillsTypeAndTheFourKeyedFields)
{
    deviceinfo device = Parse(MakeReply(255, "id=A1&host=nas&vendor=x&product=y"));
    EXPECT_STREQ(device.id, "A1");
    EXPECT_STREQ(device.host, "nas");
    EXPECT_STREQ(device.factory, "x");
    EXPECT_STREQ(device.product, "y");  // the last pair needs no '&'
    EXPECT_EQ(device.type, 255) << "the type byte is copied as an unsigned value";
    EXPECT_STREQ(device.ip, "");
    EXPECT_STREQ(device.detail, "");
    EXPECT_STREQ(device.version, "");
    EXPECT_EQ(device.lifetime, 60);
}

TEST(BroadcastReply, KeysAreMatchedAnywhereInTheText)
{
    deviceinfo device = Parse(MakeReply(1, "product=y&host=xid=5"));
    EXPECT_STREQ(device.id, "5");
    EXPECT_STREQ(device.host, "xid=5");
    EXPECT_STREQ(device.product, "y");
}

TEST(BroadcastReply, EmptyOrMissingValuesLeaveTheirFieldsEmpty)
{
    deviceinfo device = Parse(MakeReply(1, "id=&host=h"));
    EXPECT_STREQ(device.id, "");
    EXPECT_STREQ(device.host, "h");
    EXPECT_STREQ(device.factory, "");
    EXPECT_STREQ(device.product, "");
}

TEST(BroadcastReply, ValueLongerThanItsFieldKeepsItsFirst31Characters)
{
    const std::string longHost(40, 'h');
    deviceinfo device = Parse(MakeReply(1, "host=" + longHost + "&id=7"));
    EXPECT_EQ(std::string(device.host), longHost.substr(0, 31));
    EXPECT_STREQ(device.id, "7");
}

TEST(BroadcastReply, ZeroByteEndsTheText)
{
    deviceinfo device = Parse(MakeReply(1, std::string("id=A1\0host=nas", 14)));
    EXPECT_STREQ(device.id, "A1");
    EXPECT_STREQ(device.host, "");
}

// A text area with no zero ends with the datagram, not at the next zero in memory.
TEST(BroadcastReply, TextAreaWithoutZeroEndsWithTheDatagram)
{
    EXPECT_STREQ(Parse(MakeReply(1, FullTextEndingWith("&product=abcde"))).product, "abcde");
    EXPECT_STREQ(Parse(MakeReply(1, FullTextEndingWith("&product="))).product, "");
    // "produ" here and "ct=" after the datagram must not make a key.
    EXPECT_STREQ(Parse(MakeReply(1, FullTextEndingWith("&produ"))).product, "");
}

TEST(BroadcastReply, MissingKeyLeavesTheDestinationUntouched)
{
    char destination[8] = "#######";
    EXPECT_EQ(GetReplyValue("id=A1", 5, destination, 7, "host="), 0);
    EXPECT_STREQ(destination, "#######");
    EXPECT_EQ(GetReplyValue("id=A123456", 10, destination, 3, "id="), 1);
    EXPECT_STREQ(destination, "A12");
}
