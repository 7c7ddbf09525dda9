// What nasscout-cli makes of the records it gets: text from the network on
// a terminal and in JSON, the table's columns, and the changes --watch reports.
#include "device_output.h"
#include "device_tracker.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

using cli::DeviceChange;

void Put(char (&field)[DEVICEINFO_TEXT_SIZE], const std::string& text)
{
    std::memset(field, 0, sizeof field);
    std::memcpy(field, text.data(), std::min(text.size(), sizeof field));
}

// A device as a multicast answer describes it: every field filled in.
deviceinfo Answer(const std::string& ip, const std::string& id, const std::string& host = "nas1")
{
    deviceinfo device;
    Put(device.id, id);
    Put(device.ip, ip);
    Put(device.host, host);
    Put(device.product, "NS200");
    Put(device.detail, "A1");
    Put(device.version, "2.1.0");
    Put(device.factory, "ZORVA");
    device.type = DEVICE_TYPE_ANSWER;
    return device;
}

// The same device as its broadcast reply describes it: no detail, no version.
deviceinfo BroadcastReply(const std::string& ip, const std::string& id)
{
    deviceinfo device = Answer(ip, id);
    Put(device.detail, "");
    Put(device.version, "");
    return device;
}

TEST(TerminalText, KeepsPrintableUtf8AndReplacesWhatATerminalWouldObey)
{
    EXPECT_EQ(cli::TerminalText("Bücher-NAS"), "Bücher-NAS");
    EXPECT_EQ(cli::TerminalText("nas\x1b]0;owned\x07"), "nas?]0;owned?");
    EXPECT_EQ(cli::TerminalText("a\x7f" "b"), "a?b");
    EXPECT_EQ(cli::TerminalText("\xc2\x9b" "2J"), "?2J") << "C1 control CSI";
    EXPECT_EQ(cli::TerminalText("\xc0\x9b"), "??") << "overlong ESC";
    EXPECT_EQ(cli::TerminalText("caf\xe9"), "caf?") << "Latin-1 byte";
    EXPECT_EQ(cli::TerminalText("\xe2\x82"), "??") << "cut-off sequence";
}

TEST(DeviceTable, AlignsColumnsByCharactersAndMarksMissingFields)
{
    deviceinfo wide = Answer("198.51.100.10", "id-1", "Bücherei");
    deviceinfo bare = BroadcastReply("198.51.100.200", "id-22");
    Put(bare.host, "\x1b[2J");
    EXPECT_EQ(cli::FormatTable({wide, bare}),
              "HOST      IP              MODEL  VENDOR  FIRMWARE  ID\n"
              "Bücherei  198.51.100.10   NS200  ZORVA   2.1.0     id-1\n"
              "?[2J      198.51.100.200  NS200  ZORVA   -         id-22\n");
}

TEST(DeviceJson, CarriesEveryFieldAndSurvivesBytesThatAreNotUtf8)
{
    deviceinfo device = Answer("198.51.100.10", "id-1", "caf\xe9");
    // A full field has no terminator; it must not run into the next one.
    std::memset(device.product, 'p', sizeof device.product);
    device.lifetime = 50;

    std::string line;
    ASSERT_NO_THROW(line = cli::JsonLine(cli::DeviceJson(device)));
    ASSERT_EQ(line.back(), '\n');
    const nlohmann::json parsed = nlohmann::json::parse(line);
    EXPECT_EQ(parsed, nlohmann::json::parse(R"({"id": "id-1", "ip": "198.51.100.10", "host": "caf\ufffd",
        "product": "pppppppppppppppppppppppppppppppp", "detail": "A1", "version": "2.1.0",
        "factory": "ZORVA", "type": 1, "lifetime": 50})"));
}

TEST(DeviceTracker, BroadcastAndMulticastReportsOfOneDeviceAreNoChange)
{
    cli::DeviceTracker tracker;
    auto first = tracker.Update({Answer("198.51.100.10", "id-1")}, {}, false);
    ASSERT_EQ(first.size(), 1u);
    EXPECT_EQ(first[0].kind, DeviceChange::Kind::Appeared);

    // The store holds whichever came last; the two alternate every pass.
    EXPECT_TRUE(tracker.Update({BroadcastReply("198.51.100.10", "id-1")}, {}, false).empty());
    deviceinfo alive = Answer("198.51.100.10", "id-1");
    alive.type = DEVICE_TYPE_ALIVE;
    alive.lifetime = 50;
    EXPECT_TRUE(tracker.Update({alive}, {}, false).empty()) << "report kind and lifetime are no change";
}

TEST(DeviceTracker, ReportsWhatChangesAtAnAddress)
{
    cli::DeviceTracker tracker;
    tracker.Update({BroadcastReply("198.51.100.10", "id-1")}, {}, false);

    auto learnt = tracker.Update({Answer("198.51.100.10", "id-1")}, {}, false);
    ASSERT_EQ(learnt.size(), 1u) << "the firmware version learnt from a later answer";
    EXPECT_EQ(learnt[0].kind, DeviceChange::Kind::Changed);
    EXPECT_STREQ(learnt[0].device.version, "2.1.0");

    auto renamed = tracker.Update({Answer("198.51.100.10", "id-1", "nas2")}, {}, false);
    ASSERT_EQ(renamed.size(), 1u);
    EXPECT_STREQ(renamed[0].device.host, "nas2");

    // Another device took the address: nothing of the old one stays.
    auto replaced = tracker.Update({BroadcastReply("198.51.100.10", "id-9")}, {}, false);
    ASSERT_EQ(replaced.size(), 1u);
    EXPECT_EQ(replaced[0].kind, DeviceChange::Kind::Changed);
    EXPECT_STREQ(replaced[0].device.id, "id-9");
    EXPECT_STREQ(replaced[0].device.version, "");
}

TEST(DeviceTracker, DepartedDevicesSayWhetherTheySaidByeBye)
{
    cli::DeviceTracker tracker;
    std::vector<deviceinfo> both = {Answer("198.51.100.10", "id-1"), Answer("198.51.100.11", "id-2")};
    for (deviceinfo& device : both) device.lifetime = 50;  // aged once since the last answer
    tracker.Update(both, {}, false);

    auto left = tracker.Update({}, {"id-2", "id-unknown"}, true);
    ASSERT_EQ(left.size(), 2u);
    EXPECT_EQ(left[0].kind, DeviceChange::Kind::Left);
    EXPECT_STREQ(left[0].device.id, "id-1");
    EXPECT_FALSE(left[0].byebye) << "aged out";
    EXPECT_STREQ(left[1].device.id, "id-2");
    EXPECT_TRUE(left[1].byebye);
    EXPECT_TRUE(tracker.Update({}, {}, true).empty());

    // The store drops a device a moment before its bye-bye reaches the
    // printer: a look in between must still call it a bye-bye, whether no
    // ageing pass ran or the device was fresh enough to survive one.
    tracker.Update(both, {}, false);
    left = tracker.Update({both[1]}, {}, false);
    ASSERT_EQ(left.size(), 1u);
    EXPECT_TRUE(left[0].byebye);
    deviceinfo fresh = Answer("198.51.100.12", "id-3");
    tracker.Update({both[1], fresh}, {}, false);
    left = tracker.Update({both[1]}, {}, true);
    ASSERT_EQ(left.size(), 1u);
    EXPECT_TRUE(left[0].byebye);
}

}  // namespace
