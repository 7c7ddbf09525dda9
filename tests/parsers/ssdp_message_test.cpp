#include "engine/ssdp_message.h"
#include "engine/wire/wire_protocol.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace {

constexpr char kSender[] = "192.0.2.99";

const std::string kStatusLine = "HTTP/1.1 200 OK\r\n";
const std::string kLocation = "LOCATION: http://192.168.1.20:80/desc.xml\r\n";
const std::string kServer = "SERVER: VELD/2.1.0, x, ZORVA/nas1/NS200/A1\r\n";
const std::string kUsn = "USN: uuid:4f2a-77::upnp:rootdevice\r\n";
const std::string kAnswer = kStatusLine + kLocation + kServer + kUsn + "\r\n";
const std::string kNoLocation = kStatusLine + kServer + kUsn;
const std::string kNoUsn = kStatusLine + kLocation + kServer;

std::string Notify(const std::string& ntsLine)
{
    return "NOTIFY * HTTP/1.1\r\nNT: upnp:rootdevice\r\n" + ntsLine + "\r\n" + kLocation + kServer + kUsn + "\r\n";
}

std::string Replace(std::string text, const std::string& from, const std::string& to)
{
    const std::size_t at = text.find(from);
    EXPECT_NE(at, std::string::npos) << from;
    if (at != std::string::npos) text.replace(at, from.size(), to);
    return text;
}

// Parses datagram from a heap block of exactly its size with no zero after
// it, so that a sanitizer build catches any read past the received bytes. A
// dropped datagram must leave the record as it was.
std::optional<deviceinfo> Parse(const std::string& datagram, const char* sender = kSender)
{
    std::unique_ptr<char[]> bytes(new char[datagram.size()]);
    std::memcpy(bytes.get(), datagram.data(), datagram.size());
    deviceinfo before, device;
    std::strcpy(before.id, "kept");
    before.type = 7;
    device = before;
    if (ParseSsdpMessage(bytes.get(), datagram.size(), sender, device)) return device;
    EXPECT_TRUE(device.compare(before)) << "a drop changed the record";
    return std::nullopt;
}

// A 1024-byte datagram as the receive loop holds it: head, a padding header,
// then tail as its very last bytes, and the one zero after them.
std::optional<deviceinfo> ParseFullSize(const std::string& head, const std::string& tail)
{
    std::array<char, wire::kMaxDatagramSize + 1> buffer{};
    const std::size_t padding = wire::kMaxDatagramSize - head.size() - tail.size();
    const std::string datagram = head + "X-PAD: " + std::string(padding - 9, 'a') + "\r\n" + tail;
    EXPECT_EQ(datagram.size(), wire::kMaxDatagramSize);
    std::memcpy(buffer.data(), datagram.data(), datagram.size());
    deviceinfo device;
    if (!ParseSsdpMessage(buffer.data(), datagram.size(), kSender, device)) return std::nullopt;
    return device;
}

// A parsed record as id|ip|factory|host|product|detail|version|type, or
// "dropped"; every record must live 60 seconds.
std::string Seen(const std::optional<deviceinfo>& device)
{
    if (!device) return "dropped";
    EXPECT_EQ(device->lifetime, 60);
    std::string line;
    for (const char* text : {device->id, device->ip, device->factory, device->host, device->product, device->detail,
                             device->version}) line += std::string(text) + "|";
    return line + std::to_string(device->type);
}

const std::string kDevice = "4f2a-77|192.168.1.20|ZORVA|nas1|NS200|A1|2.1.0|1";
const std::string kNoServer = "4f2a-77|192.168.1.20||||||1";
const std::string kVersionOnly = "4f2a-77|192.168.1.20|||||2.1.0|1";  // SERVER read up to its version only

struct Case {
    const char* what;
    std::string datagram;
    std::string expected;
};

void ExpectCases(const std::vector<Case>& cases)
{
    for (const Case& c : cases) EXPECT_EQ(Seen(Parse(c.datagram)), c.expected) << c.what;
}

}  // namespace

TEST(SsdpMessage, AnswersAndAnnouncementsGetTheirKind)
{
    ExpectCases({
        {"answer", kAnswer, kDevice},
        {"error status", Replace(kAnswer, "200 OK", "404 Not Found"), kDevice},
        {"alive", Notify("NTS: ssdp:alive"), "4f2a-77|192.168.1.20|ZORVA|nas1|NS200|A1|2.1.0|2"},
        {"bye-bye", Notify("NTS: ssdp:byebye"), "4f2a-77|192.168.1.20|ZORVA|nas1|NS200|A1|2.1.0|4"},
        {"tab before value", Notify("NTS:\tssdp:alive"), "4f2a-77|192.168.1.20|ZORVA|nas1|NS200|A1|2.1.0|2"},
        {"other NTS value", Notify("NTS: ssdp:update"), "4f2a-77|192.168.1.20|ZORVA|nas1|NS200|A1|2.1.0|0"},
        {"long identifier", Replace(kAnswer, "4f2a-77", std::string(40, 'f')),
         std::string(31, 'f') + "|192.168.1.20|ZORVA|nas1|NS200|A1|2.1.0|1"},
    });
}

TEST(SsdpMessage, AddressIsTheLocationHostOrElseTheSender)
{
    ExpectCases({
        {"no LOCATION", kNoLocation, "4f2a-77|192.0.2.99|ZORVA|nas1|NS200|A1|2.1.0|1"},
        {"other letter case", Replace(kAnswer, "LOCATION:", "Location:"), "4f2a-77|192.0.2.99|ZORVA|nas1|NS200|A1|2.1.0|1"},
        {"no port", Replace(kAnswer, "192.168.1.20:80/", "192.0.2.20/"), "4f2a-77|192.0.2.20|ZORVA|nas1|NS200|A1|2.1.0|1"},
        {"no path", Replace(kAnswer, "192.168.1.20:80/desc.xml", "192.0.2.20"), "4f2a-77|192.0.2.20|ZORVA|nas1|NS200|A1|2.1.0|1"},
        {"LF line ends", kNoLocation + "LOCATION: http://192.0.2.20\nX: 1:2\n", "4f2a-77|192.0.2.20|ZORVA|nas1|NS200|A1|2.1.0|1"},
        // A zero ends the datagram: text after it is not seen, even what would have been valid.
        {"LOCATION after a zero", kNoLocation + std::string(1, '\0') + kLocation, "4f2a-77|192.0.2.99|ZORVA|nas1|NS200|A1|2.1.0|1"},
    });
}

TEST(SsdpMessage, ServerHeaderFillsWhatItHolds)
{
    ExpectCases({
        {"no SERVER", Replace(kAnswer, kServer, "ST: VELD\r\n"), kNoServer},
        {"other letter case", Replace(kAnswer, "SERVER:", "Server:"), kNoServer},
        {"token without version", Replace(kAnswer, "VELD/2.1.0", "VELD 2.1.0"), kNoServer},
        {"one comma", Replace(kAnswer, ", x, ZORVA/nas1/NS200/A1", ", x"), kVersionOnly},
        {"no slash", Replace(kAnswer, "ZORVA/nas1/NS200/A1", "ZORVA"), kVersionOnly},
        {"A/B", Replace(kAnswer, "ZORVA/nas1/NS200/A1", "A/B"), "4f2a-77|192.168.1.20|A||||2.1.0|1"},
        {"A/B/C", Replace(kAnswer, "/A1", ""), "4f2a-77|192.168.1.20|ZORVA|nas1|NS200||2.1.0|1"},
        {"A/B/C/D/E", Replace(kAnswer, "/A1", "/D/E"), "4f2a-77|192.168.1.20|ZORVA|nas1|NS200|D/E|2.1.0|1"},
        {"long version", Replace(kAnswer, "2.1.0", std::string(40, '9')),
         "4f2a-77|192.168.1.20|ZORVA|nas1|NS200|A1|" + std::string(31, '9') + "|1"},
        // Cut to 63 first, the product part loses its second '/' and with it host, product and detail.
        {"product part over 63", Replace(kAnswer, "nas1", std::string(64, 'h')), "4f2a-77|192.168.1.20|ZORVA||||2.1.0|1"},
        // The product part ends at the zero before its CR, so it is not there at all.
        {"zero in the product part", kStatusLine + kLocation + kUsn + Replace(kServer, "/NS200", std::string(1, '\0') + "/NS200"),
         kVersionOnly},
    });
}

TEST(SsdpMessage, DatagramsThatDescribeNoDeviceAreDroppedLeavingTheRecordAlone)
{
    ExpectCases({
        {"empty", "", "dropped"},
        {"USN after a zero", Replace(kAnswer, "USN:", std::string(1, '\0') + "USN:"), "dropped"},
        {"token alone", "VELD", "dropped"},
        {"no token", Replace(kAnswer, "VELD", "VOLD"), "dropped"},
        {"our own request", wire::MSearchRequest, "dropped"},
        {"another client's request", "M-SEARCH * HTTP/1.1\r\nST: VELD\r\nUSN: uuid:a::b\r\n\r\n", "dropped"},
        {"announcement without rootdevice",
         "NOTIFY * HTTP/1.1\r\nNT: upnp:nas\r\nNTS: ssdp:alive\r\n" + kServer + "USN: uuid:4f2a-77::upnp:nas\r\n", "dropped"},
        {"announcement without NTS", Replace(Notify("NTS: ssdp:alive"), "NTS:", "Nts:"), "dropped"},
        {"USN in other letter case", Replace(kAnswer, "USN:", "Usn:"), "dropped"},
        {"USN without uuid", Replace(kAnswer, "uuid:", ""), "dropped"},
        {"uuid without ::", Replace(kAnswer, "::upnp:rootdevice", ""), "dropped"},
        {"ends after uuid:", kNoUsn + "USN: uuid:", "dropped"},
        {"ends after one colon", kNoUsn + "USN: uuid:4f2a-77:", "dropped"},
        {"URL without //", Replace(kAnswer, "http://", ""), "dropped"},
        {"ends after LOCATION:", kNoLocation + "LOCATION:", "dropped"},
        {"ends after //", kNoLocation + "LOCATION: http://", "dropped"},
        {"host runs to the end", kNoLocation + "LOCATION: http://192.0.2.20", "dropped"},
        // Only a dotted IPv4 address is a host: a URL opener would go elsewhere, or nowhere.
        {"empty host", Replace(kAnswer, "192.168.1.20", ""), "dropped"},
        {"user before the host", Replace(kAnswer, "192.168.1.20", "198.51.100.20@203.0.113.5"), "dropped"},
        {"blank in the host", Replace(kAnswer, "192.168.1.20", "192.0.2.20 x"), "dropped"},
        {"quote in the host", Replace(kAnswer, "192.168.1.20", "192.0.2.20\""), "dropped"},
        {"name for a host", Replace(kAnswer, "192.168.1.20", "nas.example"), "dropped"},
        {"octet over 255", Replace(kAnswer, "192.168.1.20", "192.0.2.256"), "dropped"},
        {"long host", Replace(kAnswer, "192.168.1.20", std::string(40, '1')), "dropped"},
        // Addresses no device can answer from: "Log In" would open this machine or nowhere.
        {"loopback host", Replace(kAnswer, "192.168.1.20", "127.0.0.1"), "dropped"},
        {"unspecified host", Replace(kAnswer, "192.168.1.20", "0.0.0.0"), "dropped"},
        {"limited broadcast host", Replace(kAnswer, "192.168.1.20", "255.255.255.255"), "dropped"},
        {"multicast host", Replace(kAnswer, "192.168.1.20", "224.0.0.251"), "dropped"},
    });
    EXPECT_EQ(Seen(Parse(kNoLocation, "127.0.0.1")), "dropped") << "a loopback sender without LOCATION";
}

// The rest of the message stays in memory after the length, as in a reused buffer.
TEST(SsdpMessage, BytesPastTheReceivedLengthAreNeverParsed)
{
    deviceinfo device;
    EXPECT_FALSE(ParseSsdpMessage(kAnswer.data(), kAnswer.find("::"), kSender, device));
    const std::string lateLocation = kNoLocation + "LOCATION: http://192.0.2.20/";
    EXPECT_FALSE(ParseSsdpMessage(lateLocation.data(), lateLocation.size() - 1, kSender, device));
    const char blanks[] = " \t \tssdp:alive";  // an NTS value cut after its blanks
    EXPECT_EQ(SkipSpaces(blanks, blanks + 2), blanks + 2);
}

TEST(SsdpMessage, FullSizeDatagramsAreParsedToTheirLastByte)
{
    EXPECT_EQ(Seen(ParseFullSize(kNoUsn, "USN: uuid:4f2a-77::")), kDevice);
    EXPECT_FALSE(ParseFullSize(kNoUsn, "USN: uuid:4f2a-77:"));
    EXPECT_FALSE(ParseFullSize(kNoLocation, "LOCATION: http://192.168.1.20"));
    for (const char* server : {"SERVER: VELD/2.1.0, x,", "SERVER: VELD/2.1.0, x, ZORVA/nas1/NS200/A1"}) {
        EXPECT_EQ(Seen(ParseFullSize(kStatusLine + kLocation + kUsn, server)), kVersionOnly) << server;
    }

    std::string tokens;
    while (tokens.size() < wire::kMaxDatagramSize) tokens += "VELD";
    EXPECT_EQ(Seen(Parse(tokens)), "dropped");
}
