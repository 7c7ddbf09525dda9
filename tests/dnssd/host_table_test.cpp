// The DNS-SD source's table: which hosts are NAS devices, what their record
// says, and where the buttons take the user, from what the network announced.
#include "src/dnssd/host_links.h"
#include "src/dnssd/host_table.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace dnssd {
namespace {

ServiceKey Key(const std::string& name, const std::string& type) { return {2, name, type, "local"}; }

ResolvedService At(const std::string& ip, ServiceKind kind, std::uint16_t port = 0, const std::string& text = "")
{
    ResolvedService service;
    service.kind = kind;
    service.hostName = "nas-b.local";
    service.ip = ip;
    service.port = port;
    (kind == ServiceKind::DeviceInfo ? service.model : service.path) = text;
    return service;
}

// A path from the network reaches a link only as a path of this host.
TEST(WebPageLinks, KeepOnlyAPathOfTheHostItself)
{
    EXPECT_EQ(WebPageUrl(false, "198.51.100.20", 80, "/admin/?a=1&b=%2F"), "http://198.51.100.20/admin/?a=1&b=%2F");
    EXPECT_EQ(WebPageUrl(true, "198.51.100.20", 5001, ""), "https://198.51.100.20:5001/");
    for (const std::string& hostile : std::vector<std::string>{"//elsewhere.example/", "http://elsewhere.example/", "/a b", "/a\x1b[2J",
                                      "/a\nb", "/%zz", "/%4", "/user@host", "/\xc3\xa9", "/#top", "admin",
                                      "/" + std::string(kLongestWebPath, 'a'), std::string("/a\0b", 4)}) {
        EXPECT_FALSE(IsSafeWebPath(hostile)) << hostile;
        EXPECT_EQ(WebPageUrl(false, "198.51.100.20", 8080, hostile), "http://198.51.100.20:8080/") << hostile;
    }
}

// A host is listed while it offers a file service, named after it, with the
// model of its device info; it moves with its address; a web page alone is
// no NAS.
TEST(HostTable, ListsAHostWhileItOffersAFileService)
{
    HostTable table;
    EXPECT_FALSE(table.Resolved(Key("Office", "_http._tcp"), At("198.51.100.20", ServiceKind::Http, 5000, "/ui"))
                     .front().record);
    table.Resolved(Key("Office", "_device-info._tcp"), At("198.51.100.20", ServiceKind::DeviceInfo, 0, "NS-4"));
    table.Resolved(Key("Office afp", "_afpovertcp._tcp"), At("198.51.100.20", ServiceKind::Afp, 548));
    EXPECT_EQ(table.LinksOf("198.51.100.20").fileShare, "afp://198.51.100.20");
    const HostChange listed = table.Resolved(Key("Office", "_smb._tcp"), At("198.51.100.20", ServiceKind::Smb, 445)).front();
    ASSERT_TRUE(listed.record);
    EXPECT_STREQ(listed.record->host, "Office");
    EXPECT_STREQ(listed.record->id, "nas-b.local");
    EXPECT_STREQ(listed.record->product, "NS-4");
    EXPECT_STREQ(listed.record->detail, "smb,afp");
    EXPECT_EQ(table.LinksOf("198.51.100.20").webPage, "http://198.51.100.20:5000/ui");
    EXPECT_EQ(table.LinksOf("198.51.100.20").fileShare, "smb://198.51.100.20");

    const auto moved = table.Resolved(Key("Office", "_smb._tcp"), At("198.51.100.21", ServiceKind::Smb, 445));
    ASSERT_EQ(moved.size(), 2u);
    EXPECT_STREQ(moved[0].record->detail, "afp");
    EXPECT_EQ(moved[1].ip, "198.51.100.21");
    EXPECT_FALSE(table.Removed(Key("Office afp", "_afpovertcp._tcp")).front().record);
    EXPECT_EQ(table.Clear().size(), 2u);
    EXPECT_EQ(table.LinksOf("198.51.100.21").fileShare, "");
}

}  // namespace
}  // namespace dnssd
