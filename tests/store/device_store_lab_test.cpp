// The store with the engine behind it, its end at exit, and the
// search-and-age loop: everything that calls the engine, so in a private
// network namespace.
#include "lab_simulator.h"
#include "netlab.h"
#include "search_and_age.h"
#include "store_test_support.h"
#include "temporary_log.h"

#include <gtest/gtest.h>

#include <pthread.h>
#include <signal.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <future>
#include <memory>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

namespace {

using namespace std::chrono_literals;

// The desktop never stops the engine, and its receive threads outlive main.
TEST(StoreAtExit, AnEngineLeftRunningIsStoppedBeforeTheStoreGoes)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    // The child is this test run again; it finds the parent's directory here.
    constexpr char kVariable[] = "NASSCOUT_STORE_EXIT_TEST_DIR";
    std::unique_ptr<TemporaryDirectory> directory;
    std::string logDir;
    if (const char* inherited = std::getenv(kVariable)) {
        logDir = inherited;
    } else {
        directory = std::make_unique<TemporaryDirectory>();
        logDir = directory->slashed();
        setenv(kVariable, logDir.c_str(), 1);
    }

    EXPECT_EXIT(
        {
            StartDeviceSearch(GetDeviceStore(), nullptr, true, logDir.data(), false);
            std::exit(0);
        },
        testing::ExitedWithCode(0), "");
    unsetenv(kVariable);

    ASSERT_EQ(directory->Files().size(), 1u);
    std::string log = ReadWholeFile(directory->Files().front());
    EXPECT_NE(log.find("SendThread 1900 : Exit Search Device Tread"), std::string::npos) << log;
    EXPECT_NE(log.find("------Exit Log System-------"), std::string::npos) << log;
}

// The engine behind the store.

// The application callback's reports, for waiting on the store.
std::mutex g_reportMutex;
std::condition_variable g_reported;
std::vector<deviceinfo> g_applicationSaw;
std::vector<std::pair<std::string, int>> g_idsAndPorts;

void* NoteReport(void* pDevice, int nSearchPort)
{
    std::lock_guard<std::mutex> lock(g_reportMutex);
    g_applicationSaw.push_back(*static_cast<deviceinfo*>(pDevice));
    g_idsAndPorts.emplace_back(static_cast<deviceinfo*>(pDevice)->id, nSearchPort);
    g_reported.notify_all();
    return nullptr;
}

class StoreInTheLab : public EmptyStore {
protected:
    StoreInTheLab()
        : lan(lab.AddLan()),
          finder(lab.AddHost("finder", {{lan, "192.0.2.1/24"}})),
          nas1(lab.AddHost("nas1", {{lan, "192.0.2.20/24"}})),
          nas2(lab.AddHost("nas2", {{lan, "192.0.2.30/24"}}))
    {
        nas1.AddAddress("192.0.2.21/24");
        nas1.AddAddress("192.0.2.22/24");
    }

    void TearDown() override
    {
        {
            netlab::Host::Inside inside(finder);
            StopDeviceSearch();
        }
        EmptyStore::TearDown();
        g_applicationSaw.clear();
        g_idsAndPorts.clear();
    }

    // Waits up to 10 seconds for `done` to hold, re-checking after every report.
    bool WaitUntil(const std::function<bool()>& done)
    {
        std::unique_lock<std::mutex> lock(g_reportMutex);
        return g_reported.wait_for(lock, 10s, done);
    }

    static std::vector<std::string> SortedIds()
    {
        std::vector<std::string> ids = StoredIds();
        std::sort(ids.begin(), ids.end());
        return ids;
    }

    netlab::Lab lab;
    netlab::Lan lan;
    netlab::Host& finder;
    netlab::Host& nas1;
    netlab::Host& nas2;
};

TEST_F(StoreInTheLab, ListsTheListedVendorsTheEngineFindsAndDropsTheOneThatSaysByeBye)
{
    LabSimulator staying(nas1, {"--device", LabSimulator::Device("192.0.2.20", "keeper", "ZORVA"), "--device",
                                LabSimulator::Device("192.0.2.21", "lower", "quenda"), "--device",
                                LabSimulator::Device("192.0.2.22", "stranger", "ACME")});
    LabSimulator leaving(nas2, {"--device", LabSimulator::Device("192.0.2.30", "leaver", "NESTRAL")});
    ASSERT_TRUE(staying.ready() && leaving.ready()) << staying.Output() << leaving.Output();
    {
        netlab::Host::Inside inside(finder);
        StartDeviceSearch(store, NoteReport, false, nullptr, true);
        SearchDevices(store, nullptr);
    }
    const std::vector<std::string> found{"keeper", "leaver", "lower"};
    const std::vector<int> kWorkerPorts{67, 1900, 1530};
    ASSERT_TRUE(WaitUntil([&] {
        bool strangerHeard = std::any_of(g_applicationSaw.begin(), g_applicationSaw.end(),
                                         [](const deviceinfo& device) { return std::string(device.id) == "stranger"; });
        // A late answer after the bye-bye would list the leaver again.
        bool leaverAnsweredEveryWorker = std::all_of(kWorkerPorts.begin(), kWorkerPorts.end(), [](int port) {
            return std::count(g_idsAndPorts.begin(), g_idsAndPorts.end(), std::make_pair(std::string("leaver"), port));
        });
        return strangerHeard && leaverAnsweredEveryWorker && SortedIds() == found;
    })) << testing::PrintToString(SortedIds()) << testing::PrintToString(g_idsAndPorts);
    {
        std::lock_guard<std::mutex> lock(g_reportMutex);
        auto lower = std::find_if(g_applicationSaw.begin(), g_applicationSaw.end(),
                                  [](const deviceinfo& device) { return std::string(device.id) == "lower"; });
        ASSERT_NE(lower, g_applicationSaw.end());
        EXPECT_STREQ(lower->factory, "quenda") << "the application hears the engine's record";
    }

    leaving.Stop();
    EXPECT_TRUE(WaitUntil([&] { return SortedIds() == std::vector<std::string>{"keeper", "lower"}; }))
        << testing::PrintToString(SortedIds());
}

// Worker threads read the callback without a lock: only a stopped engine may have it replaced.
TEST_F(EmptyStore, ASecondStartWhileTheEngineRunsKeepsTheFirstCallback)
{
    FindDeviceCallback first = [](void*, int) -> void* { return nullptr; };
    StartDeviceSearch(store, first, false, nullptr, false);
    StartDeviceSearch(store, NoteReport, false, nullptr, false);
    EXPECT_EQ(store->applicationCallback, first);

    StopDeviceSearch();
    StartDeviceSearch(store, NoteReport, false, nullptr, false);
    EXPECT_EQ(store->applicationCallback, NoteReport);
    StopDeviceSearch();
}

// The search-and-age loop.

TEST_F(EmptyStore, SearchAndAgeRoundsAgeTheListUntilStopped)
{
    for (int64_t lifetime : {60, 56, 55}) {
        deviceinfo device = Device(("192.0.2." + std::to_string(lifetime)).c_str(), std::to_string(lifetime).c_str(),
                                   "ZORVA");
        device.lifetime = lifetime;
        AddDevice(store, &device);
    }
    SearchAndAgeStop stop;
    std::vector<std::vector<deviceinfo>> afterRounds;
    SearchAndAgeUntilStopped(
        stop,
        [&] {
            EXPECT_TRUE(StoreMutexIsFree());
            afterRounds.push_back(StoredDevices());
            if (afterRounds.size() == 2) stop.Stop();
        },
        1ms);

    ASSERT_EQ(afterRounds.size(), 2u) << "nothing runs after the stop";
    ASSERT_EQ(afterRounds[0].size(), 2u);
    EXPECT_EQ(afterRounds[0][0].lifetime, 50);
    EXPECT_EQ(afterRounds[0][1].lifetime, 46);
    EXPECT_TRUE(afterRounds[1].empty());
}

SearchAndAgeStop* g_stopOnSignal = nullptr;

TEST(SearchAndAgeStop, ASignalHandlerEndsTheWaitAtOnce)
{
    SearchAndAgeStop stop;
    g_stopOnSignal = &stop;
    struct sigaction action {};
    action.sa_handler = [](int) { g_stopOnSignal->Stop(); };
    struct sigaction previous {};
    ASSERT_EQ(sigaction(SIGUSR1, &action, &previous), 0);

    int ageingPasses = 0;
    std::promise<void> ended;
    std::thread loop([&] {
        SearchAndAgeUntilStopped(stop, [&] { ++ageingPasses; }, 1h);
        ended.set_value();
    });
    pthread_kill(loop.native_handle(), SIGUSR1);
    bool endedInTime = ended.get_future().wait_for(5s) == std::future_status::ready;
    if (!endedInTime) stop.Stop();  // does not rely on the handler, so the test can end
    loop.join();
    sigaction(SIGUSR1, &previous, nullptr);

    EXPECT_TRUE(endedInTime);
    EXPECT_EQ(ageingPasses, 0);
    EXPECT_TRUE(stop.WaitFor(1h)) << "a stopped stop waits no more";
}

}  // namespace
