// What a hostile device on the LAN can do to the finder: announce itself with
// texts that would drive a terminal, forge a log line or pass for other text,
// or with an address no device can have. Through the real nasscout-cli (its
// table, its JSON, its standard error and its log) and the real window (its
// --screenshot table), in a finder host of the network lab.
#include "engine/wire/wire_protocol.h"
#include "tests/support/finder_lab.h"

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/udp.hpp>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <atomic>
#include <map>
#include <cstdio>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

namespace asio = boost::asio;
using namespace std::chrono_literals;

// One announcement of the table, and what becomes of it.
struct Hostile {
    const char* story;
    std::string ip, id, vendor, host;
    // The host column as the table and the window show it; empty when the
    // device must not be listed at all.
    std::string shownHost;
};

const std::vector<Hostile> kHostile = {
    {"sets the title and clears the screen", "192.0.2.101", "h-1", "ZORVA", "\x1b]0;TITLE\x07\x1b[2J", "?]0;TITLE??[2J"},
    {"C1 CSI and DEL", "192.0.2.102", "h-2", "ZORVA", "a\xc2\x9b" "2J\x7f", "a?2J?"},
    {"a zero-width space in a name", "192.0.2.103", "h-3", "ZORVA", "at\xe2\x80\x8blas", "at<U+200B>las"},
    {"a right-to-left override", "192.0.2.104", "h-4", "ZORVA", "\xe2\x80\xae" "sdrawkcab", "<U+202E>sdrawkcab"},
    {"an id in inverse video", "192.0.2.105", "\x1b[7mh-5", "ZORVA", "inverse", "inverse"},
    {"an id that forges a log line", "192.0.2.106", "h-6\r\nSendThread 1900 : forged", "ZORVA", "forger", "forger"},
    {"a vendor that sets the title", "192.0.2.107", "h-7", "\x1b]0;T\x07", "stranger", ""},
    {"loopback", "127.0.0.1", "h-8", "ZORVA", "loop", ""},
    {"unspecified", "0.0.0.0", "h-9", "ZORVA", "nowhere", ""},
    {"limited broadcast", "255.255.255.255", "h-10", "ZORVA", "everyone", ""},
    {"a multicast group", "224.0.0.251", "h-11", "ZORVA", "group", ""},
    {"reserved", "240.0.0.1", "h-12", "ZORVA", "reserved", ""},
};

std::string Announcement(const Hostile& device)
{
    char datagram[wire::kMaxDatagramSize];
    std::snprintf(datagram, sizeof datagram, wire::kNotifyAliveLayout, device.ip.c_str(), "2.1.0",
                  device.vendor.c_str(), device.host.c_str(), "NS200", "A1", device.id.c_str());
    return datagram;
}

// The first character of `text` that a terminal would obey or that shows
// nothing, described; empty when there is none. Line ends are allowed.
std::string FirstUnprintable(const std::string& text)
{
    for (std::size_t at = 0; at < text.size(); ++at) {
        const auto byte = static_cast<unsigned char>(text[at]);
        const auto next = at + 1 < text.size() ? static_cast<unsigned char>(text[at + 1]) : 0;
        const auto third = at + 2 < text.size() ? static_cast<unsigned char>(text[at + 2]) : 0;
        const bool control = (byte < 0x20 && byte != '\n' && byte != '\r') || byte == 0x7f ||
                             (byte == 0xc2 && next >= 0x80 && next < 0xa0);
        const bool format = byte == 0xe2 && next == 0x80 && ((third >= 0x8b && third <= 0x8f) || (third >= 0xaa && third <= 0xae));
        if (control || format) {
            const std::size_t from = at > 60 ? at - 60 : 0;
            return "byte " + std::to_string(byte) + " after: " + text.substr(from, at - from);
        }
    }
    return "";
}

// Announces every device of the table to the search group from its own host,
// five times a second, until destroyed.
class HostileAnnouncer {
public:
    explicit HostileAnnouncer(netlab::Host& host)
        : thread_([this, &host] {
              netlab::Host::Inside inside(host);
              asio::io_context io;
              asio::ip::udp::socket socket(io, asio::ip::udp::v4());
              const asio::ip::udp::endpoint group(asio::ip::make_address_v4(wire::kMulticastGroup), wire::kMulticastPort);
              while (!stop_) {
                  for (const Hostile& device : kHostile) {
                      boost::system::error_code ignored;
                      socket.send_to(asio::buffer(Announcement(device)), group, 0, ignored);
                  }
                  std::this_thread::sleep_for(200ms);
              }
          })
    {
    }
    ~HostileAnnouncer()
    {
        stop_ = true;
        thread_.join();
    }

private:
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

class HostileDevices : public testing::Test {
protected:
    FinderLab lab;
    HostileAnnouncer announcer{lab.AddHost("mallory", {"192.0.2.66"})};
};

TEST_F(HostileDevices, GetAListEntryAtMostWithTheirTextsMadeHarmless)
{
    TemporaryDirectory logs;
    const ProgramRun json = lab.Run({NASSCOUT_CLI_PATH, "--json", "--seconds", "2", "--verbose", "--log", logs.path()});
    const ProgramRun table = lab.Run({NASSCOUT_CLI_PATH, "--seconds", "2"});
    ASSERT_EQ(json.status, 0) << json.err;
    ASSERT_EQ(table.status, 0) << table.err;
    ASSERT_EQ(logs.Files().size(), 1u);
    const std::string log = ReadWholeFile(logs.Files().front());
    std::vector<std::pair<std::string, std::string>> outputs = {
        {"JSON", json.out}, {"standard error", json.err}, {"the log", log}, {"table", table.out}};
#ifdef NASSCOUT_PATH
    const std::string picture = lab.files.File("window.png");
    const ProgramRun window = lab.Run({"/usr/bin/env", "QT_QPA_PLATFORM=offscreen", "LANGUAGE=en",
                                       "XDG_RUNTIME_DIR=" + lab.files.path(), NASSCOUT_PATH, "--screenshot", picture});
    ASSERT_EQ(window.status, 0) << window.err;
    outputs.emplace_back("window", window.out);
#endif
    for (const auto& [name, text] : outputs) EXPECT_EQ(FirstUnprintable(text), "") << name;

    std::map<std::string, nlohmann::json> listed;
    for (std::istringstream lines(json.out); !lines.eof();) {
        std::string line;
        if (std::getline(lines, line) && !line.empty()) {
            const nlohmann::json device = nlohmann::json::parse(line);
            listed[device.value("ip", "")] = device;
        }
    }
    for (const Hostile& device : kHostile) {
        SCOPED_TRACE(device.story);
        const bool shown = !device.shownHost.empty();
        ASSERT_EQ(listed.count(device.ip), shown ? 1u : 0u);
        if (shown) {
            // JSON escapes; a reader gets the device's very texts back.
            EXPECT_EQ(listed[device.ip].value("host", ""), device.host);
            EXPECT_EQ(listed[device.ip].value("id", ""), device.id);
        }
        for (const auto& [name, text] : outputs) {
            if (name != "table" && name != "window") continue;
            EXPECT_EQ(text.find(device.ip + " ") != std::string::npos, shown) << name << ":\n" << text;
            if (shown) {
                EXPECT_NE(text.find(device.shownHost + " "), std::string::npos) << name << ":\n" << text;
            }
        }
    }
    EXPECT_NE(json.err.find("NewDeviceInfo.factory = \\x1b]0;T\\x07\n"), std::string::npos) << json.err;
    EXPECT_NE(log.find("Find Device ID : \\x1b[7mh-5, IP : 192.0.2.105"), std::string::npos) << log;
    EXPECT_NE(log.find("Find Device ID : h-6\\x0d\\x0aSendThread 1900 : forged, IP"), std::string::npos) << log;
}

}  // namespace
