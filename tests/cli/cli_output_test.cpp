// What nasscout-cli makes of the records it gets: text from the network on
// a terminal and in JSON, the table's columns, and the lines --watch prints
// for the device store's events.
#include "tools/cli/device_output.h"
#include "tools/cli/watch_printer.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <poll.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <future>
#include <string>
#include <utility>
#include <vector>

namespace {

using namespace std::chrono_literals;
using Events = std::vector<std::pair<StoreEvent, deviceinfo>>;

// A device as a multicast answer describes it: every field filled in; a full
// field (32 characters) has no terminator.
deviceinfo Answer(const std::string& ip, const std::string& id, const std::string& host = "nas1",
                  const std::string& version = "2.1.0", const std::string& detail = "A1")
{
    deviceinfo device;
    const std::pair<char*, std::string> texts[] = {{device.id, id}, {device.ip, ip}, {device.host, host},
        {device.product, "NS200"}, {device.detail, detail}, {device.version, version}, {device.factory, "ZORVA"}};
    for (const auto& [field, text] : texts) std::strncpy(field, text.c_str(), DEVICEINFO_TEXT_SIZE);
    device.type = DEVICE_TYPE_ANSWER;
    return device;
}

// The same device as its broadcast reply describes it: no detail, no version.
deviceinfo BroadcastReply(const std::string& ip, const std::string& id) { return Answer(ip, id, "nas1", "", ""); }

// A Japanese name takes two cells a character, an accented one one: the IP
// column stays put.
TEST(DeviceTable, AlignsColumnsByTheCellsATerminalGivesAndMarksMissingFields)
{
    deviceinfo accented = Answer("198.51.100.10", "id-1", "Bücherei");
    deviceinfo wide = Answer("198.51.100.11", "id-2", "\xe6\x9b\xb8\xe5\xba\xab");  // 書庫
    deviceinfo bare = BroadcastReply("198.51.100.200", "id-22");
    std::strcpy(bare.host, "\x1b[2J");
    EXPECT_EQ(cli::FormatTable({accented, wide, bare}),
              "HOST      IP              MODEL  VENDOR  FIRMWARE  ID\n"
              "Bücherei  198.51.100.10   NS200  ZORVA   2.1.0     id-1\n"
              "\xe6\x9b\xb8\xe5\xba\xab      198.51.100.11   NS200  ZORVA   2.1.0     id-2\n"
              "?[2J      198.51.100.200  NS200  ZORVA   -         id-22\n");
}

TEST(DeviceJson, CarriesEveryFieldAndSurvivesBytesThatAreNotUtf8)
{
    deviceinfo device = Answer("198.51.100.10", "id-1", "caf\xe9", "2.1.0", "A\x7f\xc2\x9b\xe2\x80\xae");
    // A full field has no terminator; it must not run into the next one.
    std::memset(device.product, 'p', sizeof device.product);
    device.lifetime = 50;

    std::string line;
    ASSERT_NO_THROW(line = cli::DeviceJsonLine(device));
    ASSERT_EQ(line.back(), '\n');
    EXPECT_NE(line.find(R"("detail":"A\u007f\u009b\u202e")"), std::string::npos) << line;
    const nlohmann::json parsed = nlohmann::json::parse(line);
    EXPECT_EQ(parsed, nlohmann::json::parse(R"({"id": "id-1", "ip": "198.51.100.10", "host": "caf\ufffd",
        "product": "pppppppppppppppppppppppppppppppp", "detail": "A\u007f\u009b\u202e", "version": "2.1.0",
        "factory": "ZORVA", "type": 1, "lifetime": 50})"));
}

// The text lines a printer writes for `events`, each without its time of day.
std::vector<std::string> Printed(const Events& events)
{
    std::FILE* results = std::tmpfile();
    cli::WatchPrinter printer(results, false);
    for (const auto& [event, entry] : events) printer.OnStoreEvent(event, entry);
    printer.Stop();
    EXPECT_TRUE(printer.Run()) << "it writes what was queued before the stop";
    std::rewind(results);
    std::vector<std::string> lines;
    for (char line[512]; std::fgets(line, sizeof line, results) != nullptr;) {
        lines.emplace_back(line + std::strlen("HH:MM:SS "), line + std::strlen(line) - 1);
    }
    std::fclose(results);
    return lines;
}

TEST(WatchPrinter, EachStoreEventBecomesItsLineOrNone)
{
    deviceinfo renamed = Answer("198.51.100.10", "id-1", "nas2");
    deviceinfo alive = Answer("198.51.100.10", "id-1");
    alive.type = DEVICE_TYPE_ALIVE;
    alive.lifetime = 50;
    const std::string zorva = " model=NS200 vendor=ZORVA";
    deviceinfo dnssdHost{};
    std::strcpy(dnssdHost.ip, "198.51.100.30");
    std::strcpy(dnssdHost.id, "nas-b.local");
    std::strcpy(dnssdHost.host, "nas1");
    dnssdHost.type = kDnssdHostType;
    deviceinfo dnssdHostWithModel = dnssdHost;
    std::strcpy(dnssdHostWithModel.product, "NS-4");
    const struct {
        const char* story;
        Events events;
        std::vector<std::string> lines;
    } cases[] = {
        // The store holds whichever came last; the two alternate every pass.
        {"broadcast and multicast reports of one device, report kind and lifetime are no change",
         {{StoreEvent::Appended, Answer("198.51.100.10", "id-1")},
          {StoreEvent::Replaced, BroadcastReply("198.51.100.10", "id-1")},
          {StoreEvent::Replaced, alive}},
         {"appeared ip=198.51.100.10 host=nas1" + zorva + " firmware=2.1.0 id=id-1"}},
        // A firmware learnt later is no change: the other kind of answer carries none.
        {"what changes at an address: a name, another device",
         {{StoreEvent::Appended, BroadcastReply("198.51.100.10", "id-1")},
          {StoreEvent::Replaced, Answer("198.51.100.10", "id-1")},
          {StoreEvent::Replaced, renamed},
          {StoreEvent::Replaced, BroadcastReply("198.51.100.10", "id-9")}},
         {"appeared ip=198.51.100.10 host=nas1" + zorva + " firmware=- id=id-1",
          "changed  ip=198.51.100.10 host=nas2" + zorva + " firmware=2.1.0 id=id-1",
          "changed  ip=198.51.100.10 host=nas1" + zorva + " firmware=- id=id-9"}},
        // A DNS-SD host's record is whole: a model learnt later, or gone, is a change.
        {"a DNS-SD host's model comes and goes",
         {{StoreEvent::Appended, dnssdHost},
          {StoreEvent::Replaced, dnssdHostWithModel},
          {StoreEvent::Replaced, dnssdHost}},
         {"appeared ip=198.51.100.30 host=nas1 model=- vendor=- firmware=- id=nas-b.local",
          "changed  ip=198.51.100.30 host=nas1 model=NS-4 vendor=- firmware=- id=nas-b.local",
          "changed  ip=198.51.100.30 host=nas1 model=- vendor=- firmware=- id=nas-b.local"}},
        {"a value with a blank or '=' is quoted, so that a field stays one word",
         {{StoreEvent::Appended, Answer("198.51.100.12", "id-3", "my nas=1")}},
         {"appeared ip=198.51.100.12 host=\"my nas=1\"" + zorva + " firmware=2.1.0 id=id-3"}},
        {"departures say why, with the device as last known",
         {{StoreEvent::Appended, Answer("198.51.100.10", "id-1")},
          {StoreEvent::Appended, Answer("198.51.100.11", "id-2")},
          {StoreEvent::AgedOut, BroadcastReply("198.51.100.10", "id-1")},
          {StoreEvent::ByeBye, Answer("198.51.100.11", "id-2")}},
         {"appeared ip=198.51.100.10 host=nas1" + zorva + " firmware=2.1.0 id=id-1",
          "appeared ip=198.51.100.11 host=nas1" + zorva + " firmware=2.1.0 id=id-2",
          "left     ip=198.51.100.10 host=nas1" + zorva + " firmware=2.1.0 id=id-1 (aged out)",
          "left     ip=198.51.100.11 host=nas1" + zorva + " firmware=2.1.0 id=id-2 (bye-bye)"}},
    };
    for (const auto& test : cases) EXPECT_EQ(Printed(test.events), test.lines) << test.story;
}

// The one-shot search prints the view: the same fields every run, whichever
// kind of answer the store held last, in address order.
TEST(DeviceView, ListsEachDeviceWithEveryFieldItGaveInAddressOrder)
{
    cli::DeviceView view;
    view.Apply(StoreEvent::Appended, Answer("198.51.100.20", "id-20"));
    view.Apply(StoreEvent::Appended, BroadcastReply("198.51.100.3", "id-3"));
    view.Apply(StoreEvent::Replaced, BroadcastReply("198.51.100.20", "id-20"));
    view.Apply(StoreEvent::Appended, Answer("198.51.100.100", "id-100"));
    view.Apply(StoreEvent::ByeBye, Answer("198.51.100.100", "id-100"));
    std::vector<std::string> listed;
    for (const deviceinfo& device : view.Devices()) listed.push_back(std::string(device.ip) + " " + device.version);
    EXPECT_EQ(listed, (std::vector<std::string>{"198.51.100.3 ", "198.51.100.20 2.1.0"}));
}

// Nothing but the event wakes the printer: no polling, no later event, no
// stop. A change that comes while it rests after a write is written when the
// rest ends, without a wake-up of its own.
TEST(WatchPrinter, WritesEachChangeAsItArrives)
{
    int pipeEnds[2];
    ASSERT_EQ(pipe(pipeEnds), 0);
    std::FILE* results = fdopen(pipeEnds[1], "w");
    cli::WatchPrinter printer(results, true);
    std::future<bool> run = std::async(std::launch::async, [&printer] { return printer.Run(); });
    const auto nextLine = [&]() -> std::string {
        pollfd readable{pipeEnds[0], POLLIN, 0};
        char line[1024] = {};
        if (poll(&readable, 1, 5000) != 1 || read(pipeEnds[0], line, sizeof line - 1) <= 0) return "";  // the watchdog
        return line;
    };

    printer.OnStoreEvent(StoreEvent::ByeBye, Answer("198.51.100.10", "id-1"));
    const std::string left = nextLine();
    printer.OnStoreEvent(StoreEvent::Appended, Answer("198.51.100.11", "id-2"));  // while it rests
    const std::string appeared = nextLine();
    printer.Stop();
    EXPECT_EQ(run.wait_for(5s), std::future_status::ready);
    EXPECT_TRUE(run.get());
    std::fclose(results);
    close(pipeEnds[0]);

    ASSERT_FALSE(left.empty());
    EXPECT_EQ(nlohmann::json::parse(left).value("reason", ""), "bye-bye");
    ASSERT_FALSE(appeared.empty());
    EXPECT_EQ(nlohmann::json::parse(appeared).value("event", ""), "appeared");
}

TEST(WatchPrinter, AFailedWriteEndsItWithoutAStop)
{
    std::FILE* full = std::fopen("/dev/full", "w");
    ASSERT_NE(full, nullptr);
    cli::WatchPrinter printer(full, false);
    printer.OnStoreEvent(StoreEvent::Appended, Answer("198.51.100.10", "id-1"));
    EXPECT_FALSE(printer.Run());
    std::fclose(full);
}

// Events queued for a reader that does not read once grew without bound,
// as fast as a device made up changes: past the bound they are counted.
TEST(WatchPrinter, AStalledReaderCostsDroppedChangesNotMemory)
{
    Events flood;
    for (std::size_t index = 0; index < cli::WatchPrinter::kMostQueuedChanges + 3; ++index) {
        flood.emplace_back(StoreEvent::Appended,
                           Answer("198.18." + std::to_string(index / 250) + "." + std::to_string(index % 250),
                                  "id-" + std::to_string(index)));
    }
    testing::internal::CaptureStderr();
    EXPECT_EQ(Printed(flood).size(), cli::WatchPrinter::kMostQueuedChanges);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "nasscout-cli: 3 changes not shown: standard output fell behind\n");
}

}  // namespace
