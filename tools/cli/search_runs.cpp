#include "search_runs.h"

#include "device_output.h"
#include "device_store.h"
#include "search_and_age.h"

#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <ctime>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace cli {

namespace {

using Clock = std::chrono::steady_clock;

void StartEngine(DeviceStore* store, FindDeviceCallback callback, const CliOptions& options)
{
    const bool log = !options.logDirectory.empty();
    // The engine copies the directory before it returns.
    void* logDirectory = log ? const_cast<char*>(options.logDirectory.c_str()) : nullptr;
    StartDeviceSearch(store, callback, log, logDirectory, options.multiCommand);
}

// Writes and flushes at once: a reader of --watch wants each event as it happens.
bool Emit(std::FILE* results, const std::string& text)
{
    return std::fputs(text.c_str(), results) >= 0 && std::fflush(results) == 0;
}

// The progress line lives on standard error; the store's lines start with a
// line feed of their own, so they never end up inside it.
void ShowProgress(int secondsLeft, std::size_t found)
{
    std::fprintf(stderr, "\rSearching: %d s left, %zu device%s found\33[K", secondsLeft, found,
                 found == 1 ? "" : "s");
}

void ClearProgress() { std::fputs("\r\33[K", stderr); }

// What the --watch printer waits for. The report callback takes `mutex`
// inside the engine's report lock; the printer never calls the store or the
// engine while holding it.
struct WatchState {
    std::mutex mutex;
    std::condition_variable wake;
    // Guarded by mutex.
    bool stop = false;
    bool changed = false;             // the store's list may have changed
    bool aged = false;                // an ageing pass ran since the printer last looked
    std::set<std::string> byebyeIds;  // ids that said bye-bye since the printer last looked
};

WatchState g_watch;

void WakePrinter(bool aged)
{
    {
        std::lock_guard<std::mutex> lock(g_watch.mutex);
        g_watch.changed = true;
        g_watch.aged = g_watch.aged || aged;
    }
    g_watch.wake.notify_one();
}

// Runs on an engine thread, after the store has taken the report.
void* WatchCallback(void* pDevice, int /*nSearchPort*/)
{
    const auto* device = static_cast<const deviceinfo*>(pDevice);
    if (device->type == DEVICE_TYPE_BYEBYE) {
        std::lock_guard<std::mutex> lock(g_watch.mutex);
        g_watch.byebyeIds.insert(FieldText(device->id));
    }
    WakePrinter(false);
    return nullptr;
}

}  // namespace

int RunSearch(const CliOptions& options, std::FILE* results)
{
    DeviceStore* store = GetDeviceStore();
    StartEngine(store, nullptr, options);
    SearchDevices(store, nullptr);

    const bool progress = isatty(STDERR_FILENO) == 1;
    std::vector<deviceinfo> devices;
    const Clock::time_point start = Clock::now();
    for (int second = 0; second < options.seconds; ++second) {
        if (progress) {
            CopyDeviceList(store, devices);
            ShowProgress(options.seconds - second, devices.size());
        }
        std::this_thread::sleep_until(start + std::chrono::seconds(second + 1));
    }
    if (progress) ClearProgress();
    CopyDeviceList(store, devices);
    StopDeviceSearch();

    std::string text;
    if (options.json) {
        for (const deviceinfo& device : devices) text += JsonLine(DeviceJson(device));
        if (devices.empty()) std::fprintf(stderr, "nasscout-cli: no device found in %d s\n", options.seconds);
    } else {
        text = devices.empty() ? "No device found in " + std::to_string(options.seconds) + " s.\n"
                               : FormatTable(devices);
    }
    std::fputs(text.c_str(), results);
    return 0;
}

int RunWatch(const CliOptions& options, std::FILE* results)
{
    // Blocked before any other thread exists, so that every thread inherits
    // the mask and only the waiter below ever takes the two signals.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    SearchAndAgeStop searchStop;
    std::thread signalWaiter([&stopSignals, &searchStop] {
        int signal = 0;
        sigwait(&stopSignals, &signal);
        searchStop.Stop();
        {
            std::lock_guard<std::mutex> lock(g_watch.mutex);
            g_watch.stop = true;
        }
        g_watch.wake.notify_one();
    });

    DeviceStore* store = GetDeviceStore();
    StartEngine(store, WatchCallback, options);
    // Ageing changes the list without a report; it wakes the printer too.
    std::thread searcher([&searchStop, &options] {
        SearchAndAgeUntilStopped(
            searchStop, [] { WakePrinter(true); }, std::chrono::seconds(options.intervalSeconds));
    });
    if (isatty(STDERR_FILENO) == 1) std::fputs("Watching for devices; Ctrl-C stops.\n", stderr);

    // The printer: compares the store's list with the last one whenever it
    // may have changed, and prints the differences.
    DeviceTracker tracker;
    std::vector<deviceinfo> devices;
    bool writable = true;
    while (writable) {
        std::set<std::string> byebyeIds;
        bool aged = false;
        {
            std::unique_lock<std::mutex> lock(g_watch.mutex);
            g_watch.wake.wait(lock, [] { return g_watch.stop || g_watch.changed; });
            if (g_watch.stop) break;
            g_watch.changed = false;
            std::swap(aged, g_watch.aged);
            byebyeIds.swap(g_watch.byebyeIds);
        }
        CopyDeviceList(store, devices);
        std::string lines;
        const std::time_t now = std::time(nullptr);
        for (const DeviceChange& change : tracker.Update(devices, byebyeIds, aged)) {
            lines += FormatChange(change, now, options.json);
        }
        writable = lines.empty() || Emit(results, lines);
    }

    searchStop.Stop();
    searcher.join();
    StopDeviceSearch();
    // After a failed write the waiter is still in sigwait; a signal sent to
    // it alone ends that wait.
    bool waiterDone = false;
    {
        std::lock_guard<std::mutex> lock(g_watch.mutex);
        waiterDone = g_watch.stop;
    }
    if (!waiterDone) pthread_kill(signalWaiter.native_handle(), SIGTERM);
    signalWaiter.join();
    return writable ? 0 : 1;
}

}  // namespace cli
