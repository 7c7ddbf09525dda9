// Every device nasscout-sim accepts reads back unchanged through the engine's
// own parsers, from the broadcast reply and from the SSDP answer and both
// announcements; what would not is refused with a message naming the key.
#include "engine/broadcast_reply.h"
#include "engine/ssdp_message.h"
#include "tools/sim/sim_device.h"
#include "tools/sim/sim_messages.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

const std::string kGood = "ip=192.0.2.10,id=4f2a-77,host=nas1,vendor=ZORVA,product=NS200,detail=A1,version=2.1.0";

// The device text with one key's value replaced.
std::string WithValue(const std::string& key, const std::string& value, const std::string& text = kGood)
{
    const std::size_t start = text.find(key + "=") + key.size() + 1;
    const std::size_t end = std::min(text.find(',', start), text.size());
    return text.substr(0, start) + value + text.substr(end);
}

std::vector<std::string> Texts(const sim::SimDevice& device)
{
    return {device.ip, device.id, device.host, device.vendor, device.product, device.detail, device.version};
}

std::vector<std::string> Texts(const deviceinfo& record)
{
    return {record.ip, record.id, record.host, record.factory, record.product, record.detail, record.version};
}

void ExpectReadsBackUnchanged(const sim::SimDevice& device)
{
    for (const std::string& datagram :
         {sim::BuildSearchAnswer(device), sim::BuildNotify(device, true), sim::BuildNotify(device, false)}) {
        deviceinfo record;
        ASSERT_TRUE(ParseSsdpMessage(datagram.data(), datagram.size(), "198.51.100.99", record)) << datagram;
        EXPECT_EQ(Texts(record), Texts(device)) << datagram;
    }
    // The reply has no ip (the receiver takes the sender's), detail or version.
    const DHCPPACKET reply = sim::BuildBroadcastReply(device);
    deviceinfo record;
    ParseBroadcastReply(reinterpret_cast<const unsigned char*>(&reply), record);
    const std::vector<std::string> keyed{"", device.id, device.host, device.vendor, device.product, "", ""};
    EXPECT_EQ(Texts(record), keyed);
}

TEST(SimDevice, AcceptsExactlyTheDevicesThatReadBackUnchanged)
{
    const std::string longest(31, 'x');
    const struct {
        std::string text;
        std::string named;  // what the refusal names; empty: accepted
    } cases[] = {
        {kGood, ""},
        {WithValue("host", longest), ""},
        {WithValue("id", longest), ""},
        {WithValue("version", longest), ""},
        {WithValue("id", ":4f2a:77"), ""},
        {WithValue("detail", "rack/2U left uuid:"), ""},
        {WithValue("host", "B\xc3\xbc" "cherei\xc2\x9b"), ""},  // printed escaped, sent as it is
        {WithValue("host", "", WithValue("version", "", WithValue("detail", ""))), ""},
        // vendor/host/product/detail: 60 bytes and the three slashes, SERVER's most.
        {WithValue("vendor", std::string(15, 'v'),
                   WithValue("host", std::string(15, 'h'),
                             WithValue("product", std::string(15, 'p'), WithValue("detail", std::string(15, 'd'))))),
         ""},
        {WithValue("detail", std::string(16, 'd'),
                   WithValue("vendor", std::string(15, 'v'),
                             WithValue("host", std::string(15, 'h'), WithValue("product", std::string(15, 'p'))))),
         "SERVER"},
        {"ip=192.0.2.10,id=a", "no host="},
        {kGood + ",colour=red", "colour"},
        {kGood + ",id=again", "twice"},
        {WithValue("ip", "192.0.2.300"), "192.0.2.300"},
        {WithValue("ip", "239.143.255.250"), "239.143.255.250"},
        {WithValue("ip", std::string("192.0.2.10\0.7", 13)), "ip"},
        {WithValue("vendor", "ZOR/VA"), "vendor"},
        {WithValue("host", "a&b"), "host"},
        {WithValue("product", "a\tb"), "control character"},
        {WithValue("version", "2,1"), "version"},
        {WithValue("id", "4f2a::77"), "::"},
        {WithValue("id", "4f2a:"), "ends in ':'"},
        {WithValue("host", "USN: uuid:x::"), "host"},
        {WithValue("detail", "USN:"), "detail"},
        {WithValue("host", longest + "x"), "32 bytes"},
        {WithValue("detail", longest + "x"), "detail"},
    };
    for (const auto& test : cases) {
        SCOPED_TRACE(test.text);
        sim::SimDevice device;
        std::string error;
        const bool accepted = sim::ParseDeviceText(test.text, device, error);
        if (test.named.empty()) {
            ASSERT_TRUE(accepted) << error;
            ExpectReadsBackUnchanged(device);
        } else {
            EXPECT_FALSE(accepted);
            EXPECT_NE(error.find(test.named), std::string::npos) << error;
        }
    }
}

}  // namespace
