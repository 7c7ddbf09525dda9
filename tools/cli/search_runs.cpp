#include "search_runs.h"

#include "device_output.h"
#include "device_view.h"
#include "engine/wire/wire_protocol.h"
#include "search_reach.h"
#include "src/dnssd/dnssd_source.h"
#include "src/port67/port67_handover.h"
#include "src/store/device_store.h"
#include "src/store/search_and_age.h"
#include "watch_printer.h"

#include <pthread.h>
#include <signal.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <functional>
#include <mutex>
#include <set>
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

// SIGINT and SIGTERM, which end either search.
sigset_t StopSignals()
{
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    return signals;
}

// Without an application callback: the store is all nasscout-cli listens to.
void StartEngine(DeviceStore* store, const CliOptions& options)
{
    store->printsVendorLines = options.verbose;
    store->admitsEveryVendor = options.allMakes;
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

// What the engine, once started, can reach, said on standard error: nothing
// to search on (false), or a search without the broadcast search's port.
// Without `networkNeeded`, a watch goes on without a network for now.
bool SayWhatTheSearchCannotReach(bool networkNeeded)
{
    if (!HasIPv4Network()) {
        std::fputs("nasscout-cli: nothing to search on: no network interface is up with an IPv4 address besides "
                   "loopback\n",
                   stderr);
        if (networkNeeded) return false;
    }
    const std::set<int> ports = HeldUdpPorts();
    if (ports.empty()) {
        std::fputs("nasscout-cli: nothing to search on: no search socket could be opened (--log DIR says why)\n", stderr);
        return false;
    }
    if (ports.count(wire::kBroadcastSearchPort) == 0) {
        const std::string& outcome = Port67HelperOutcome();
        std::string why = outcome.rfind("bind: ", 0) == 0 ? outcome : WhyNoPort67();
        if (why.empty()) why = "the broadcast search could not start";
        std::fprintf(stderr,
                     "nasscout-cli: no UDP port 67 (%s): devices that answer only the broadcast search are not "
                     "found; the package's nasscout-port67 hands the port over (see nasscout-cli(1), PRIVILEGES)\n",
                     why.c_str());
    }
    return true;
}

// The search window, with a progress line on a terminal; the stop signal
// that cut it short, or 0.
int WaitSearchWindow(const CliOptions& options, const sigset_t& stopSignals, const std::function<std::size_t()>& found)
{
    const bool progress = isatty(STDERR_FILENO) == 1;
    const Clock::time_point end = Clock::now() + std::chrono::seconds(options.seconds);
    int signal = 0;
    for (int secondsLeft = options.seconds; signal <= 0 && Clock::now() < end; --secondsLeft) {
        if (progress) ShowProgress(secondsLeft, found());
        const auto wait = std::chrono::duration_cast<std::chrono::nanoseconds>(
            std::min<Clock::duration>(std::chrono::seconds(1), end - Clock::now()));
        const timespec timeout{static_cast<time_t>(wait.count() / 1000000000),
                               static_cast<long>(wait.count() % 1000000000)};
        signal = sigtimedwait(&stopSignals, nullptr, &timeout);
    }
    if (progress) ClearProgress();
    return std::max(signal, 0);
}

}  // namespace

int RunSearch(const CliOptions& options, std::FILE* results)
{
    // Blocked before the engine starts its threads: a stop signal waits for
    // the search window's sigtimedwait and ends it early.
    const sigset_t stopSignals = StopSignals();
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    DeviceStore* store = GetDeviceStore();
    std::mutex viewMutex;
    DeviceView view;
    store->observer = [&](StoreEvent event, deviceinfo entry) {
        std::lock_guard<std::mutex> lock(viewMutex);
        view.Apply(event, entry);
    };
    StartEngine(store, options);
    if (!SayWhatTheSearchCannotReach(true)) {
        StopDeviceSearch();
        store->observer = nullptr;
        return kNothingToSearchOn;
    }
    dnssd::DnssdSource dnssdHosts(store, "nasscout-cli");
    if (options.allMakes) dnssdHosts.Start();
    SearchDevices(store, nullptr);
    const int signal = WaitSearchWindow(options, stopSignals, [&] {
        std::lock_guard<std::mutex> lock(viewMutex);
        return view.size();
    });
    dnssdHosts.Stop();
    StopDeviceSearch();
    store->observer = nullptr;
    SayWhenDevicesWereTurnedAway(store);
    const std::vector<deviceinfo> devices = view.Devices();

    std::string text;
    if (options.json) {
        for (const deviceinfo& device : devices) text += DeviceJsonLine(device, options.allMakes);
        if (devices.empty()) std::fprintf(stderr, "nasscout-cli: no device found in %d s\n", options.seconds);
    } else {
        text = devices.empty() ? "No device found in " + std::to_string(options.seconds) + " s.\n"
                               : FormatTable(devices, options.allMakes);
    }
    std::fputs(text.c_str(), results);
    return signal != 0 ? 128 + signal : 0;
}

int RunWatch(const CliOptions& options, std::FILE* results)
{
    // Blocked before any other thread exists, so that every thread inherits
    // the mask and only the waiter below ever takes the two signals.
    const sigset_t stopSignals = StopSignals();
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    WatchPrinter printer(results, options.json, options.allMakes);
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
    if (!SayWhatTheSearchCannotReach(false)) {
        // Nothing can come: the waiter still takes its signal, so end it here.
        StopDeviceSearch();
        store->observer = nullptr;
        pthread_kill(signalWaiter.native_handle(), SIGTERM);
        signalWaiter.join();
        return kNothingToSearchOn;
    }
    dnssd::DnssdSource dnssdHosts(store, "nasscout-cli");
    if (options.allMakes) dnssdHosts.Start();
    std::thread searcher([&searchStop, &options, store] {
        SearchAndAgeUntilStopped(
            searchStop, [store] { SayWhenDevicesWereTurnedAway(store); }, std::chrono::seconds(options.intervalSeconds));
    });
    if (isatty(STDERR_FILENO) == 1) std::fputs("Watching for devices; Ctrl-C stops.\n", stderr);

    const bool written = printer.Run();
    g_statusIfCutShort = written ? 0 : 1;

    searchStop.Stop();
    searcher.join();
    dnssdHosts.Stop();
    StopDeviceSearch();
    store->observer = nullptr;
    // After a failed write the waiter is still in sigwait; a signal sent to
    // it alone ends that wait.
    if (!printer.Stopped()) pthread_kill(signalWaiter.native_handle(), SIGTERM);
    signalWaiter.join();
    return written ? 0 : 1;
}

}  // namespace cli
