#include "engine/find_device_dispatch.h"
#include "tests/support/log_line.h"
#include "tests/support/temporary_log.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <future>
#include <mutex>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono_literals;

// What the application's callback saw; guarded by its own mutex.
struct Reports {
    std::mutex mutex;
    std::condition_variable arrived;
    std::vector<std::pair<deviceinfo, int>> received;
    std::atomic<int> inside{0};
    std::atomic<int> mostInsideAtOnce{0};
    size_t Count() { std::lock_guard<std::mutex> lock(mutex); return received.size(); }
    // Whether a report of `port` comes in within `timeout`.
    bool WaitFor(int port, std::chrono::milliseconds timeout)
    {
        std::unique_lock<std::mutex> lock(mutex);
        return arrived.wait_for(lock, timeout, [&] {
            return std::any_of(received.begin(), received.end(), [&](const auto& report) { return report.second == port; });
        });
    }
};
Reports* g_reports = nullptr;

void* RecordReport(void* pDevice, int nSearchPort)
{
    int now = ++g_reports->inside;
    if (now > g_reports->mostInsideAtOnce) g_reports->mostInsideAtOnce = now;
    {
        std::lock_guard<std::mutex> lock(g_reports->mutex);
        g_reports->received.emplace_back(*static_cast<deviceinfo*>(pDevice), nSearchPort);
    }
    g_reports->arrived.notify_all();
    std::strcpy(static_cast<deviceinfo*>(pDevice)->id, "changed by the application");
    --g_reports->inside;
    return nullptr;
}

deviceinfo Device(const char* id)
{
    deviceinfo device;
    std::strcpy(device.id, id);
    std::strcpy(device.ip, "192.0.2.20");
    device.type = DEVICE_TYPE_ANSWER;
    return device;
}

class FoundDeviceDispatch : public testing::Test {
protected:
    void SetUp() override
    {
        g_reports = &reports;
        SetFindDeviceCallback(RecordReport);
    }
    void TearDown() override
    {
        SetFindDeviceCallback(nullptr);
        g_reports = nullptr;
    }
    Reports reports;
    TemporaryLog log;
};

TEST_F(FoundDeviceDispatch, CallbackGetsACopyOfTheWorkersRecordWithThePort)
{
    deviceinfo device = Device("4f2a-77");
    HandleFindDevice(&device, sizeof device, 1550);

    ASSERT_EQ(reports.received.size(), 1u);
    EXPECT_TRUE(reports.received[0].first.compare(Device("4f2a-77")));
    EXPECT_EQ(reports.received[0].second, 1550);
    EXPECT_STREQ(device.id, "4f2a-77") << "the application changed the worker's own record";
}

TEST_F(FoundDeviceDispatch, ConcurrentReportsEnterTheCallbackOneAtATime)
{
    // The first report starts the second and, once it runs, gives it time to
    // come in: it must wait for the mutex until the first has returned.
    static std::thread second;
    static std::promise<void> secondRuns;
    SetFindDeviceCallback([](void* pDevice, int nSearchPort) -> void* {
        if (nSearchPort == 1530) {
            second = std::thread([] {
                secondRuns.set_value();
                deviceinfo device = Device("second");
                HandleFindDevice(&device, sizeof device, 1550);
            });
            secondRuns.get_future().wait();
            EXPECT_FALSE(g_reports->WaitFor(1550, 200ms)) << "the second report came in beside the first";
        }
        return RecordReport(pDevice, nSearchPort);
    });
    deviceinfo device = Device("first");
    HandleFindDevice(&device, sizeof device, 1530);
    second.join();

    EXPECT_EQ(reports.mostInsideAtOnce, 1);
    ASSERT_EQ(reports.received.size(), 2u);
    EXPECT_STREQ(reports.received[0].first.id, "first");
    int firstDone = log.IndexOf(LogLine(LOGTEXT_REPORT_PREFIX LOGTEXT_REPORT_DONE, 1530, 1530));
    int secondLocked = log.IndexOf(LogLine(LOGTEXT_REPORT_PREFIX LOGTEXT_REPORT_LOCKED, 1550, 1550));
    ASSERT_GE(firstDone, 0);
    EXPECT_GT(secondLocked, firstDone);
}

TEST_F(FoundDeviceDispatch, NoReportReachesACallbackAfterItWasCleared)
{
    std::atomic<bool> stop{false};
    std::thread reporter([&] {
        while (!stop) {
            deviceinfo device = Device("busy");
            HandleFindDevice(&device, sizeof device, 1900);
        }
    });
    while (reports.Count() == 0) std::this_thread::yield();
    SetFindDeviceCallback(nullptr);
    const size_t seen = reports.Count();
    deviceinfo device = Device("late");
    HandleFindDevice(&device, sizeof device, 67);  // dropped, with nobody to tell
    stop = true;
    reporter.join();
    EXPECT_EQ(reports.received.size(), seen);
    EXPECT_EQ(reports.inside, 0);
}

}  // namespace
