#include "search_runs.h"

#include "device_output.h"
#include "src/store/device_store.h"
#include "src/store/search_and_age.h"
#include "watch_printer.h"

#include <pthread.h>
#include <signal.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

namespace cli {

namespace {

using Clock = std::chrono::steady_clock;

// From a stop signal to the end of the process, at most this long: a write
// to a reader that stalls (the results, or the diagnostic lines) would
// otherwise hold the program forever.
constexpr std::chrono::milliseconds kStopDeadline{750};

// What the process ends with when the deadline cuts its stop short: 1 until
// the printer has written every line, then 0.
std::atomic<int> g_statusIfCutShort{1};

// Ends the process at kStopDeadline from now unless it has ended by itself.
// With the exit_group system call, as _exit makes it: stdio's buffers and
// locks may belong to the stalled write, and the threads it leaves unjoined
// on purpose are no finding for a sanitizer's checks at _exit.
void EndProcessByDeadline()
{
    try {
        std::thread([] {
            std::this_thread::sleep_for(kStopDeadline);
            syscall(SYS_exit_group, g_statusIfCutShort.load());
        }).detach();
    } catch (const std::system_error&) {
        // No thread to be had: the stop waits for the writes, as before.
    }
}

// Without an application callback: the store is all nasscout-cli listens to.
void StartEngine(DeviceStore* store, const CliOptions& options)
{
    store->printsVendorLines = !options.quiet;
    const bool log = !options.logDirectory.empty();
    // The engine copies the directory before it returns.
    void* logDirectory = log ? const_cast<char*>(options.logDirectory.c_str()) : nullptr;
    StartDeviceSearch(store, nullptr, log, logDirectory, options.multiCommand);
}

// The progress line lives on standard error; the store's lines start with a
// line feed of their own, so they never end up inside it.
void ShowProgress(int secondsLeft, std::size_t found)
{
    std::fprintf(stderr, "\rSearching: %d s left, %zu device%s found\33[K", secondsLeft, found,
                 found == 1 ? "" : "s");
}

void ClearProgress() { std::fputs("\r\33[K", stderr); }

// One line on standard error, once, when the store's list was full: the
// results then miss devices.
void SayWhenDevicesWereTurnedAway(DeviceStore* store)
{
    static std::atomic<bool> said{false};
    const std::uint64_t turnedAway = DevicesTurnedAway(store);
    if (turnedAway == 0 || said.exchange(true)) return;
    std::fprintf(stderr,
                 "nasscout-cli: the device list holds %zu devices at most; %llu answers of further devices were "
                 "turned away\n",
                 kMostListedDevices, static_cast<unsigned long long>(turnedAway));
}

}  // namespace

int RunSearch(const CliOptions& options, std::FILE* results)
{
    DeviceStore* store = GetDeviceStore();
    StartEngine(store, options);
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
    SayWhenDevicesWereTurnedAway(store);

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

    WatchPrinter printer(results, options.json);
    SearchAndAgeStop searchStop;
    std::thread signalWaiter([&stopSignals, &searchStop, &printer] {
        int signal = 0;
        sigwait(&stopSignals, &signal);
        EndProcessByDeadline();
        searchStop.Stop();
        printer.Stop();
    });

    // The store tells the printer every change, reports and ageing alike.
    DeviceStore* store = GetDeviceStore();
    store->observer = [&printer](StoreEvent event, deviceinfo entry) { printer.OnStoreEvent(event, entry); };
    StartEngine(store, options);
    std::thread searcher([&searchStop, &options, store] {
        SearchAndAgeUntilStopped(
            searchStop, [store] { SayWhenDevicesWereTurnedAway(store); }, std::chrono::seconds(options.intervalSeconds));
    });
    if (isatty(STDERR_FILENO) == 1) std::fputs("Watching for devices; Ctrl-C stops.\n", stderr);

    const bool written = printer.Run();
    g_statusIfCutShort = written ? 0 : 1;

    searchStop.Stop();
    searcher.join();
    StopDeviceSearch();
    store->observer = nullptr;
    // After a failed write the waiter is still in sigwait; a signal sent to
    // it alone ends that wait.
    if (!printer.Stopped()) pthread_kill(signalWaiter.native_handle(), SIGTERM);
    signalWaiter.join();
    return written ? 0 : 1;
}

}  // namespace cli
