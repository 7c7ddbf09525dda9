// The store with the engine behind it: its end at exit, a second start, and
// the search-and-age loop; everything that calls the engine, so in a private
// network namespace. The engine's devices reaching the store across a network
// are the window's and nasscout-cli's lab tests.
#include "lab/netlab.h"
#include "src/store/search_and_age.h"
#include "store_test_support.h"
#include "tests/support/log_line.h"
#include "tests/support/temporary_log.h"

#include <gtest/gtest.h>

#include <pthread.h>
#include <signal.h>

#include <chrono>
#include <cstdlib>
#include <future>
#include <memory>
#include <thread>
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
    if (std::getenv(kVariable) == nullptr) {
        directory = std::make_unique<TemporaryDirectory>();
        setenv(kVariable, directory->slashed().c_str(), 1);
    }
    std::string logDir = std::getenv(kVariable);

    EXPECT_EXIT(
        {
            StartDeviceSearch(GetDeviceStore(), nullptr, true, logDir.data(), false);
            std::exit(0);
        },
        testing::ExitedWithCode(0), "");
    unsetenv(kVariable);

    ASSERT_EQ(directory->Files().size(), 1u);
    std::string log = ReadWholeFile(directory->Files().front());
    EXPECT_NE(log.find(LogLine(LOGTEXT_WORKER_PREFIX LOGTEXT_EXIT, 1900, 1)), std::string::npos) << log;
    EXPECT_NE(log.find("------Exit Log System-------"), std::string::npos) << log;
}

// Worker threads read the callback without a lock: only a stopped engine may have it replaced.
TEST_F(EmptyStore, ASecondStartWhileTheEngineRunsKeepsTheFirstCallback)
{
    FindDeviceCallback first = [](void*, int) -> void* { return nullptr; };
    FindDeviceCallback second = [](void* pDevice, int) -> void* { return pDevice; };
    StartDeviceSearch(store, first, false, nullptr, false);
    StartDeviceSearch(store, second, false, nullptr, false);
    EXPECT_EQ(store->applicationCallback, first);

    StopDeviceSearch();
    StartDeviceSearch(store, second, false, nullptr, false);
    EXPECT_EQ(store->applicationCallback, second);
    StopDeviceSearch();
}

TEST_F(EmptyStore, SearchAndAgeRoundsAgeTheListUntilStopped)
{
    deviceinfo device = Device("192.0.2.20", "a", "ZORVA");
    AddDevice(store, &device);
    SearchAndAgeStop stop;
    std::vector<std::string> afterRounds;
    SearchAndAgeUntilStopped(
        stop,
        [&] {
            EXPECT_TRUE(StoreMutexIsFree());
            afterRounds.push_back(Listed());
            if (afterRounds.size() == 2) stop.Stop();
        },
        1ms);

    EXPECT_EQ(afterRounds, (std::vector<std::string>{"a:50", ""})) << "nothing runs after the stop";
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
