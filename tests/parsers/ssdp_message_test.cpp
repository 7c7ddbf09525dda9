#include "ssdp_message.h"
#include "wire_protocol.h"

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
// it, so that a sanitizer build catches any read past the received bytes.
std::optional<deviceinfo> Parse(const std::string& datagram)
{
    std::unique_ptr<char[]> bytes(new char[datagram.size()]);
    std::memcpy(bytes.get(), datagram.data(), datagram.size());
    deviceinfo device;
    if (!ParseSsdpMessage(bytes.get(), datagram.size(), kSender, device)) return std::nullopt;
    return device;
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

struct Fields {
    std::string id, ip, host, product, detail, version, factory;
    int type;
};

const Fields kExampleDevice{"4f2a-77", "192.168.1.20", "nas1", "NS200", "A1", "2.1.0", "ZORVA", DEVICE_TYPE_ANSWER};

Fields With(Fields fields, std::string Fields::*member, const std::string& value)
{
    fields.*member = value;
    return fields;
}

Fields WithType(Fields fields, int type)
{
    fields.type = type;
    return fields;
}

Fields WithoutServer(Fields fields)
{
    fields.host = fields.product = fields.detail = fields.version = fields.factory = "";
    return fields;
}

void ExpectDevice(const std::optional<deviceinfo>& device, const Fields& expected)
{
    ASSERT_TRUE(device.has_value()) << "dropped";
    EXPECT_EQ(device->id, expected.id);
    EXPECT_EQ(device->ip, expected.ip);
    EXPECT_EQ(device->host, expected.host);
    EXPECT_EQ(device->product, expected.product);
    EXPECT_EQ(device->detail, expected.detail);
    EXPECT_EQ(device->version, expected.version);
    EXPECT_EQ(device->factory, expected.factory);
    EXPECT_EQ(device->type, expected.type);
    EXPECT_EQ(device->lifetime, 60);
}

struct Case {
    const char* what;
    std::string datagram;
    Fields expected;
};

void ExpectCases(const std::vector<Case>& cases)
{
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ExpectDevice(Parse(c.datagram), c.expected);
    }
}

}  // namespace

TEST(SsdpMessage, AnswersAndAnnouncementsGetTheirKind)
{
    ExpectCases({
        {"answer", kAnswer, kExampleDevice},
        {"error status", Replace(kAnswer, "200 OK", "404 Not Found"), kExampleDevice},
        {"alive", Notify("NTS: ssdp:alive"), WithType(kExampleDevice, DEVICE_TYPE_ALIVE)},
        {"bye-bye", Notify("NTS: ssdp:byebye"), WithType(kExampleDevice, DEVICE_TYPE_BYEBYE)},
        {"tab before value", Notify("NTS:\tssdp:alive"), WithType(kExampleDevice, DEVICE_TYPE_ALIVE)},
        {"other NTS value", Notify("NTS: ssdp:update"), WithType(kExampleDevice, DEVICE_TYPE_NONE)},
    });
}

TEST(SsdpMessage, AddressIsTheLocationHostOrElseTheSender)
{
    const std::string noLocation = kStatusLine + kServer + kUsn;
    const std::string longHost(40, 'h');
    ExpectCases({
        {"no LOCATION", noLocation, With(kExampleDevice, &Fields::ip, kSender)},
        {"other letter case", Replace(kAnswer, "LOCATION:", "Location:"), With(kExampleDevice, &Fields::ip, kSender)},
        {"no port", Replace(kAnswer, "192.168.1.20:80/", "192.0.2.20/"), With(kExampleDevice, &Fields::ip, "192.0.2.20")},
        {"no path", Replace(kAnswer, "192.168.1.20:80/desc.xml", "192.0.2.20"), With(kExampleDevice, &Fields::ip, "192.0.2.20")},
        {"LF line ends", noLocation + "LOCATION: http://192.0.2.20\nX: 1:2\n", With(kExampleDevice, &Fields::ip, "192.0.2.20")},
        {"long host", Replace(kAnswer, "192.168.1.20", longHost), With(kExampleDevice, &Fields::ip, longHost.substr(0, 31))},
    });
}

TEST(SsdpMessage, ServerHeaderFillsWhatItHolds)
{
    const std::string sixtyFour(64, 'h');
    ExpectCases({
        {"no SERVER", Replace(kAnswer, kServer, "ST: VELD\r\n"), WithoutServer(kExampleDevice)},
        {"other letter case", Replace(kAnswer, "SERVER:", "Server:"), WithoutServer(kExampleDevice)},
        {"token without version", Replace(kAnswer, "VELD/2.1.0", "VELD 2.1.0"), WithoutServer(kExampleDevice)},
        {"one comma", Replace(kAnswer, ", x, ZORVA/nas1/NS200/A1", ", x"),
         With(WithoutServer(kExampleDevice), &Fields::version, "2.1.0")},
        {"no slash", Replace(kAnswer, "ZORVA/nas1/NS200/A1", "ZORVA"), With(WithoutServer(kExampleDevice), &Fields::version, "2.1.0")},
        {"A/B", Replace(kAnswer, "ZORVA/nas1/NS200/A1", "A/B"),
         With(With(WithoutServer(kExampleDevice), &Fields::version, "2.1.0"), &Fields::factory, "A")},
        {"A/B/C", Replace(kAnswer, "/A1", ""), With(kExampleDevice, &Fields::detail, "")},
        {"A/B/C/D/E", Replace(kAnswer, "/A1", "/D/E"), With(kExampleDevice, &Fields::detail, "D/E")},
        {"long version", Replace(kAnswer, "2.1.0", std::string(40, '9')), With(kExampleDevice, &Fields::version, std::string(31, '9'))},
        // Cut to 63 first, the product part loses its second '/' and with it host, product and detail.
        {"product part over 63", Replace(kAnswer, "nas1", sixtyFour),
         With(With(WithoutServer(kExampleDevice), &Fields::version, "2.1.0"), &Fields::factory, "ZORVA")},
    });
}

TEST(SsdpMessage, LongIdentifierKeepsItsFirst31Characters)
{
    ExpectDevice(Parse(Replace(kAnswer, "4f2a-77", std::string(40, 'f'))), With(kExampleDevice, &Fields::id, std::string(31, 'f')));
}

TEST(SsdpMessage, DatagramsThatDescribeNoDeviceAreDroppedLeavingTheRecordAlone)
{
    const std::string noLocation = kStatusLine + kServer + kUsn;
    const std::string noUsn = kStatusLine + kLocation + kServer;
    const std::vector<std::pair<const char*, std::string>> drops = {
        {"empty", ""},
        {"token alone", "VELD"},
        {"no token", Replace(kAnswer, "VELD", "VOLD")},
        {"our own request", wire::MSearchRequest},
        {"another client's request", "M-SEARCH * HTTP/1.1\r\nST: VELD\r\nUSN: uuid:a::b\r\n\r\n"},
        {"announcement without rootdevice",
         "NOTIFY * HTTP/1.1\r\nNT: upnp:nas\r\nNTS: ssdp:alive\r\n" + kServer + "USN: uuid:4f2a-77::upnp:nas\r\n"},
        {"announcement without NTS", Replace(Notify("NTS: ssdp:alive"), "NTS:", "Nts:")},
        {"USN in other letter case", Replace(kAnswer, "USN:", "Usn:")},
        {"USN without uuid", Replace(kAnswer, "uuid:", "")},
        {"uuid without ::", Replace(kAnswer, "::upnp:rootdevice", "")},
        {"ends after uuid:", noUsn + "USN: uuid:"},
        {"ends after one colon", noUsn + "USN: uuid:4f2a-77:"},
        {"URL without //", Replace(kAnswer, "http://", "")},
        {"ends after LOCATION:", noLocation + "LOCATION:"},
        {"ends after //", noLocation + "LOCATION: http://"},
        {"host runs to the end", noLocation + "LOCATION: http://192.0.2.20"},
    };
    for (const auto& [what, datagram] : drops) {
        SCOPED_TRACE(what);
        deviceinfo device;
        std::strcpy(device.id, "kept");
        device.type = 7;
        EXPECT_FALSE(ParseSsdpMessage(datagram.data(), datagram.size(), kSender, device));
        EXPECT_STREQ(device.id, "kept");
        EXPECT_EQ(device.type, 7);
    }
}

TEST(SsdpMessage, ZeroByteEndsTheDatagram)
{
    const std::string zero(1, '\0');
    EXPECT_FALSE(Parse(Replace(kAnswer, "USN:", zero + "USN:")));
    // Text after the zero is not seen, even what would have been valid.
    ExpectDevice(Parse(kStatusLine + kServer + kUsn + zero + kLocation), With(kExampleDevice, &Fields::ip, kSender));
    // The product part ends at the zero before its CR, so it is not there at all.
    ExpectDevice(Parse(kStatusLine + kLocation + kUsn + "SERVER: VELD/2.1.0, x, ZORVA/nas1" + zero + "/NS200\r\n"),
                 With(WithoutServer(kExampleDevice), &Fields::version, "2.1.0"));
}

// The rest of the message stays in memory after the length, as in a reused buffer.
TEST(SsdpMessage, BytesPastTheReceivedLengthAreNeverParsed)
{
    deviceinfo device;
    EXPECT_FALSE(ParseSsdpMessage(kAnswer.data(), kAnswer.find("::"), kSender, device));
    const std::string lateLocation = kStatusLine + kServer + kUsn + "LOCATION: http://192.0.2.20/";
    EXPECT_FALSE(ParseSsdpMessage(lateLocation.data(), lateLocation.size() - 1, kSender, device));
}

TEST(SsdpMessage, FullSizeDatagramsAreParsedToTheirLastByte)
{
    const std::string noUsn = kStatusLine + kLocation + kServer;
    const std::string noLocation = kStatusLine + kServer + kUsn;
    ExpectDevice(ParseFullSize(noUsn, "USN: uuid:4f2a-77::"), kExampleDevice);
    EXPECT_FALSE(ParseFullSize(noUsn, "USN: uuid:4f2a-77:"));
    EXPECT_FALSE(ParseFullSize(noLocation, "LOCATION: http://192.168.1.20"));
    ExpectDevice(ParseFullSize(kStatusLine + kLocation + kUsn, "SERVER: VELD/2.1.0, x,"),
                 With(WithoutServer(kExampleDevice), &Fields::version, "2.1.0"));
    ExpectDevice(ParseFullSize(kStatusLine + kLocation + kUsn, "SERVER: VELD/2.1.0, x, ZORVA/nas1/NS200/A1"),
                 With(WithoutServer(kExampleDevice), &Fields::version, "2.1.0"));

    std::array<char, wire::kMaxDatagramSize + 1> tokens{};
    for (std::size_t i = 0; i < wire::kMaxDatagramSize; ++i) tokens[i] = "VELD"[i % 4];
    deviceinfo device;
    EXPECT_FALSE(ParseSsdpMessage(tokens.data(), wire::kMaxDatagramSize, kSender, device));
}

TEST(SsdpMessage, SkipSpacesPassesBlanksAndTabsOnly)
{
    EXPECT_EQ(SkipSpaces(nullptr), nullptr);
    const char text[] = " \t \tssdp:alive";
    EXPECT_EQ(SkipSpaces(text), text + 4);
    EXPECT_EQ(SkipSpaces(text + 4), text + 4);
    EXPECT_EQ(SkipSpaces(text, text + 2), text + 2);
    const char newline[] = "\n x";
    EXPECT_EQ(SkipSpaces(newline), newline);
}
