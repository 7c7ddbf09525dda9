// The store's rules, one report at a time, without the engine.
#include "failing_allocation.h"
#include "store_test_support.h"

#include <gtest/gtest.h>

#include <functional>
#include <new>
#include <optional>
#include <thread>

namespace {

// What the application callback was handed, and what it saw of the store.
struct Forwarded {
    deviceinfo device;
    int port;
    std::optional<size_t> listedWhenCalled;  // empty: the store's mutex was held
};
std::vector<Forwarded> g_forwarded;

void* RecordForwarded(void* pDevice, int nSearchPort)
{
    g_forwarded.push_back({*static_cast<deviceinfo*>(pDevice), nSearchPort, ListedIfUnlocked()});
    return pDevice;
}

// What the observer was told, as one line (kind, id@ip, host, vendor,
// lifetime), and where and when.
struct Heard {
    std::string event;
    std::optional<size_t> listedWhenCalled;
    bool eventLockWasHeld;   // as another thread saw it
    size_t forwardedBefore;  // reports the application had been handed by then
    std::thread::id thread;
};

class DeviceStoreRules : public EmptyStore {
protected:
    void SetUp() override
    {
        EmptyStore::SetUp();
        g_forwarded.clear();
        store->applicationCallback = RecordForwarded;
        store->observer = [this](StoreEvent event, deviceinfo entry) {
            static const char* const kinds[] = {"appended", "replaced", "bye-bye", "aged out", "cleared"};
            bool held = false;
            std::thread([&] {
                held = !store->eventMutex.try_lock();
                if (!held) store->eventMutex.unlock();
            }).join();
            heard.push_back({std::string(kinds[static_cast<int>(event)]) + " " + entry.id + "@" + entry.ip + " " +
                                 entry.host + " " + entry.factory + " " + std::to_string(entry.lifetime),
                             ListedIfUnlocked(), held, g_forwarded.size(), std::this_thread::get_id()});
        };
    }

    // A report as the engine makes it: through the callback, port 1900.
    void Report(deviceinfo device) { DeviceStoreCallback(&device, 1900); }

    std::vector<Heard> heard;
};

TEST_F(DeviceStoreRules, ApplicationGetsEveryReportAsTheEngineSentItAndAddedOnesPrintTheirVendorUpperCase)
{
    deviceinfo engineRecord = Device("192.0.2.20", "4f2a-77", "zorva");
    EXPECT_EQ(DeviceStoreCallback(&engineRecord, 1550), &engineRecord) << "the engine's pointer, and the result back";
    Report(Device("192.0.2.21", "b", "acme"));
    Report(Device("192.0.2.20", "a", "zorva", DEVICE_TYPE_BYEBYE));
    Report(Device("192.0.2.22", "c", "zorva", DEVICE_TYPE_NONE));
    Report(Device("192.0.2.23", "d", "zorva", DEVICE_TYPE_ALIVE));

    EXPECT_EQ(Listed(), "4f2a-77:60 d:60");
    EXPECT_STREQ(StoredDevices()[0].factory, "ZORVA");
    EXPECT_STREQ(engineRecord.factory, "zorva") << "the engine's record is never changed";
    ASSERT_EQ(g_forwarded.size(), 5u) << "every report reaches the application, whatever its kind";
    EXPECT_STREQ(g_forwarded[0].device.factory, "zorva");
    EXPECT_EQ(g_forwarded[0].port, 1550);
    EXPECT_EQ(StandardOutput(), "\nNewDeviceInfo.factory = ZORVA\n"
                                "\nNewDeviceInfo.factory = ACME\n"
                                "\nNewDeviceInfo.factory = ZORVA\n");
}

TEST_F(DeviceStoreRules, OnlyTheFiveCodesAsWholeTextsAreListed)
{
    const char* listed[] = {"Zorva", "belmir4", "QUENDA", "taviro", "NeStRaL"};
    const char* refused[] = {"ZORVAX", "ZORV", "ZORVA ", " ZORVA", "QUENDA-2", "BELMIR", "", "ACME", "zorv\xe4",
                             "\x1b]0;T\x07\x1b[2J"};
    int address = 1;
    for (const char* vendor : listed) Report(Device(("192.0.2." + std::to_string(address++)).c_str(), vendor, vendor));
    for (const char* vendor : refused) Report(Device(("192.0.2." + std::to_string(address++)).c_str(), vendor, vendor));

    EXPECT_EQ(Listed(), "Zorva:60 belmir4:60 QUENDA:60 taviro:60 NeStRaL:60");
    EXPECT_EQ(g_forwarded.size(), 15u) << "refused reports still reach the application";
    const std::string printed = StandardOutput();
    EXPECT_NE(printed.find("\nNewDeviceInfo.factory = ZORV\\xe4\n"), std::string::npos)
        << "only a to z change case, and a byte that is no UTF-8 shows as what it is";
    EXPECT_NE(printed.find("\nNewDeviceInfo.factory = \\x1b]0;T\\x07\\x1b[2J\n"), std::string::npos)
        << "a vendor that would set the terminal's title and clear it is printed harmless: " << printed;
}

// A flood of made-up devices once grew the list without bound: past its
// room, new addresses are turned away and counted, while the listed devices
// still change and leave, and a departure makes room again.
TEST_F(EmptyStore, AFullListTurnsNewAddressesAwayAndCountsThem)
{
    std::size_t events = 0;
    store->observer = [&events](StoreEvent, deviceinfo) { ++events; };
    const auto report = [](const std::string& ip, const std::string& id, int32_t type = DEVICE_TYPE_ANSWER,
                           const char* host = "nas") {
        deviceinfo device = Device(ip.c_str(), id.c_str(), "ZORVA", type, host);
        DeviceStoreCallback(&device, 1900);
    };
    const auto address = [](std::size_t index) {
        return "198.18." + std::to_string(index / 250) + "." + std::to_string(1 + index % 250);
    };
    for (std::size_t index = 0; index < kMostListedDevices; ++index) report(address(index), "id-" + std::to_string(index));
    ASSERT_EQ(StoredDevices().size(), kMostListedDevices);
    const std::uint64_t turnedAwayBefore = DevicesTurnedAway(store);
    events = 0;

    report("203.0.113.1", "beyond-1");
    report("203.0.113.2", "beyond-2");
    EXPECT_EQ(DevicesTurnedAway(store), turnedAwayBefore + 2);
    EXPECT_EQ(events, 0u) << "no event for what is not listed";

    report(address(0), "id-0", DEVICE_TYPE_ANSWER, "renamed");
    EXPECT_STREQ(StoredDevices().front().host, "renamed");
    report(address(1), "id-1", DEVICE_TYPE_BYEBYE);
    report("203.0.113.1", "beyond-1");
    EXPECT_STREQ(StoredDevices().back().id, "beyond-1");
    EXPECT_EQ(StoredDevices().size(), kMostListedDevices);
    EXPECT_EQ(DevicesTurnedAway(store), turnedAwayBefore + 2);
}

// Each change, what the observer hears of it, and the list a copy then holds.

TEST_F(DeviceStoreRules, EachOperationChangesTheListAsItsEventsSay)
{
    const auto report = [this](const char* ip, const char* id, const char* factory, int32_t type = DEVICE_TYPE_ANSWER,
                               const char* host = "nas") {
        return std::function<void()>([=] { Report(Device(ip, id, factory, type, host)); });
    };
    const struct {
        const char* operation;
        std::function<void()> run;
        std::vector<std::string> events;
        std::string listAfter;  // id:lifetime, in list order
    } cases[] = {
        {"a new address", report("192.0.2.22", "c", "nestral"), {"appended c@192.0.2.22 nas NESTRAL 60"}, "a:60 b:50 c:60"},
        {"an identical report only refreshes", report("192.0.2.21", "b", "ZORVA"), {}, "a:60 b:60"},
        {"a renamed device", report("192.0.2.20", "a", "ZORVA", DEVICE_TYPE_ANSWER, "nas2"),
         {"replaced a@192.0.2.20 nas2 ZORVA 60"}, "a:60 b:50"},
        {"another device at a known address takes its place", report("192.0.2.21", "d", "taviro", DEVICE_TYPE_ALIVE),
         {"replaced d@192.0.2.21 nas TAVIRO 60"}, "a:60 d:60"},
        {"a vendor not listed", report("192.0.2.23", "e", "acme"), {}, "a:60 b:50"},
        {"a bye-bye, whatever its address or vendor", report("203.0.113.9", "b", "acme", DEVICE_TYPE_BYEBYE),
         {"bye-bye b@192.0.2.21 nas ZORVA 50"}, "a:60"},
        {"a bye-bye of a known address but an unknown id", report("192.0.2.20", "x", "ZORVA", DEVICE_TYPE_BYEBYE), {},
         "a:60 b:50"},
        {"a bye-bye of an id at two addresses removes the first listed",
         [&] {
             Report(Device("192.0.2.22", "b", "ZORVA"));
             Report(Device("192.0.2.9", "b", "ZORVA", DEVICE_TYPE_BYEBYE));
         },
         {"appended b@192.0.2.22 nas ZORVA 60", "bye-bye b@192.0.2.21 nas ZORVA 50"}, "a:60 b:60"},
        {"a device that took an address does not leave by the old id",
         [&] {
             Report(Device("192.0.2.21", "d", "ZORVA"));
             Report(Device("192.0.2.21", "b", "ZORVA", DEVICE_TYPE_BYEBYE));
         },
         {"replaced d@192.0.2.21 nas ZORVA 60"}, "a:60 d:60"},
        {"but by its own",
         [&] {
             Report(Device("192.0.2.21", "d", "ZORVA"));
             Report(Device("192.0.2.21", "d", "ZORVA", DEVICE_TYPE_BYEBYE));
         },
         {"replaced d@192.0.2.21 nas ZORVA 60", "bye-bye d@192.0.2.21 nas ZORVA 60"}, "a:60"},
        {"an address that left comes back at the end",
         [&] {
             for (int32_t type : {DEVICE_TYPE_BYEBYE, DEVICE_TYPE_ANSWER}) Report(Device("192.0.2.20", "a", "ZORVA", type));
         },
         {"bye-bye a@192.0.2.20 nas ZORVA 60", "appended a@192.0.2.20 nas ZORVA 60"}, "b:50 a:60"},
        {"other report kinds",
         [&] {
             for (int32_t type : {0, 3, 5, 255, -1}) Report(Device("192.0.2.22", "a", "ZORVA", type));
         },
         {}, "a:60 b:50"},
        {"ageing keeps an entry while ten less leaves at least 46",
         [&] {
             for (int64_t lifetime : {56, 55}) {
                 deviceinfo device = Device(("192.0.2." + std::to_string(lifetime)).c_str(), "c", "ZORVA");
                 device.lifetime = lifetime;
                 AddDevice(store, &device);
             }
             heard.clear();
             AgeDeviceList(store);
         },
         {"aged out b@192.0.2.21 nas ZORVA 50", "aged out c@192.0.2.55 nas ZORVA 55"}, "a:50 c:46"},
        {"clearing", [&] { ClearDeviceList(store); },
         {"cleared a@192.0.2.20 nas ZORVA 60", "cleared b@192.0.2.21 nas ZORVA 50"}, ""},
        {"copying", [&] { Listed(); }, {}, "a:60 b:50"},
    };
    for (const auto& test : cases) {
        ClearDeviceList(store);
        Report(Device("192.0.2.20", "a", "ZORVA"));
        Report(Device("192.0.2.21", "b", "ZORVA"));
        AgeDeviceList(store);
        Report(Device("192.0.2.20", "a", "ZORVA"));
        heard.clear();

        test.run();
        EXPECT_EQ(Listed(), test.listAfter) << test.operation;
        EXPECT_EQ(store->applicationCallback, RecordForwarded) << test.operation;
        std::vector<std::string> events;
        for (const Heard& one : heard) {
            events.push_back(one.event);
            EXPECT_TRUE(one.listedWhenCalled.has_value()) << test.operation;
            EXPECT_TRUE(one.eventLockWasHeld) << test.operation << ": another thread's change could be heard first";
            EXPECT_EQ(one.thread, std::this_thread::get_id()) << test.operation;
        }
        EXPECT_EQ(events, test.events) << test.operation;
    }
}

TEST_F(DeviceStoreRules, ObserverThenApplicationRunAfterTheUpdateWithoutTheStoresLockOnTheReportingThread)
{
    Report(Device("192.0.2.20", "a", "ZORVA"));
    std::thread engineThread([this] { Report(Device("192.0.2.20", "a", "ZORVA", DEVICE_TYPE_BYEBYE)); });
    const std::thread::id reporter = engineThread.get_id();
    engineThread.join();

    ASSERT_EQ(heard.size(), 2u);
    ASSERT_EQ(g_forwarded.size(), 2u);
    for (size_t report = 0; report < 2; ++report) {
        const size_t listedAfterTheUpdate = report == 0 ? 1 : 0;  // empty when the lock was held
        EXPECT_EQ(heard[report].listedWhenCalled, listedAfterTheUpdate) << report;
        EXPECT_EQ(g_forwarded[report].listedWhenCalled, listedAfterTheUpdate) << report;
        EXPECT_EQ(heard[report].forwardedBefore, report) << "the observer hears of a report before the application";
    }
    EXPECT_EQ(heard[1].thread, reporter);
}

// std::vector reports a failed append by throwing: on an engine thread that
// would leave the mutex locked, and every later report would hang.
TEST_F(DeviceStoreRules, OutOfMemoryDropsTheAppendAndNeverLeavesTheStoreLocked)
{
    Report(Device("192.0.2.20", "a", "ZORVA"));

    t_failNextAllocation = true;
    Report(Device("192.0.2.21", "b", "ZORVA"));
    EXPECT_FALSE(t_failNextAllocation) << "the append did ask for memory";
    EXPECT_TRUE(StoreMutexIsFree());
    EXPECT_EQ(Listed(), "a:60");
    EXPECT_EQ(g_forwarded.size(), 2u) << "the application still hears of it";

    Report(Device("192.0.2.21", "b", "ZORVA"));
    EXPECT_EQ(Listed(), "a:60 b:60");

    std::vector<deviceinfo> destination;  // on the application's thread the caller hears of it
    t_failNextAllocation = true;
    EXPECT_THROW(CopyDeviceList(store, destination), std::bad_alloc);
    t_failNextAllocation = false;
    EXPECT_TRUE(StoreMutexIsFree());

    AgeDeviceList(store);  // the next pass would remove a and b: their copies for the observer need memory
    t_failNextAllocation = true;
    EXPECT_THROW(AgeDeviceList(store), std::bad_alloc);
    t_failNextAllocation = false;
    EXPECT_TRUE(StoreMutexIsFree());
    EXPECT_EQ(Listed(), "a:50 b:50") << "unchanged";
}

}  // namespace

// A DNS-SD host shares an address with the engine's record: the engine's
// record holds it, and when it goes (bye-bye, ageing) the host is listed
// again. The host never ages, and leaves only when the source says so, not
// at a bye-bye that names its id.
TEST_F(EmptyStore, TheEnginesRecordHoldsAnAddressADnssdHostAlsoHas)
{
    const auto ids = [] {
        std::string listed;
        for (const deviceinfo& entry : StoredDevices()) listed += std::string(entry.id) + " ";
        return listed;
    };
    deviceinfo engine = Device("198.51.100.20", "zv-1", "ZORVA");
    engine.lifetime = 60;
    for (bool byeBye : {true, false}) {
        AddDevice(store, &engine);
        ShowDnssdHost(store, Device("198.51.100.20", "nas-b.local", "", kDnssdHostType));
        deviceinfo nasC = Device("198.51.100.21", "nas-c.local", "", kDnssdHostType);
        nasC.lifetime = 60;
        ShowDnssdHost(store, nasC);
        EXPECT_EQ(ids(), "zv-1 nas-c.local ");
        if (byeBye) {
            RemoveDevice(store, &engine);
        } else {
            for (int pass = 0; pass < 3; ++pass) AgeDeviceList(store);
            EXPECT_EQ(StoredDevices().front().lifetime, 60) << "a DNS-SD host's lifetime stays as its source made it";
        }
        EXPECT_EQ(ids(), "nas-c.local nas-b.local ") << (byeBye ? "bye-bye" : "aged out");
        const deviceinfo forged = Device("198.51.100.99", "nas-c.local", "ZORVA", DEVICE_TYPE_BYEBYE);
        RemoveDevice(store, &forged);
        EXPECT_EQ(ids(), "nas-c.local nas-b.local ");
        ForgetDnssdHost(store, "198.51.100.20");
        ForgetDnssdHost(store, "198.51.100.21");
        EXPECT_EQ(ids(), "");
    }
}
