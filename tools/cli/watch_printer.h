// The printing side of --watch: the device store's events become the lines of
// FormatChange on the results stream, each as soon as it happens.
//
// The store keeps one entry per address and overwrites it with every report,
// and a broadcast reply carries no detail or version where a multicast answer
// does. The printer therefore remembers, per address, the last detail and
// version it saw, so that the two kinds of answer alternating each pass are
// not reported as changes. Report kind and lifetime are never a change.
#pragma once

#include "device_output.h"
#include "src/store/device_store.h"

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <deque>
#include <map>
#include <mutex>
#include <optional>
#include <string>

namespace cli {

// OnStoreEvent is the store's observer and runs on the store's threads; Run
// runs on one printing thread; Stop may come from any thread.
// Lock order: the store's event lock, then mutex_; Run never calls the store
// or writes while holding mutex_.
class WatchPrinter {
public:
    WatchPrinter(std::FILE* results, bool json);
    WatchPrinter(const WatchPrinter&) = delete;
    WatchPrinter& operator=(const WatchPrinter&) = delete;

    // Queues the event, stamped with the time now, and wakes Run. Never
    // writes the results and never throws: an event that finds no memory is
    // lost with a line on standard error. While a reader that stalls keeps
    // kMostQueuedEvents queued, further events are dropped and counted, and
    // Run says so on standard error.
    void OnStoreEvent(StoreEvent event, deviceinfo entry);

    // A full list's worth of appearances: the queue of a stalled reader
    // cannot grow with the changes a device makes up.
    static constexpr std::size_t kMostQueuedEvents = kMostListedDevices;

    // Ends Run once it has written what is queued.
    void Stop();
    bool Stopped();

    // Writes a line (and flushes) for every queued event that is a change,
    // waiting for more until Stop(). False as soon as a write fails.
    bool Run();

private:
    struct Queued {
        StoreEvent event;
        deviceinfo entry;
        std::time_t when;
    };

    // The line's change for an event, if it is one; remembers the address.
    std::optional<DeviceChange> Change(StoreEvent event, const deviceinfo& entry);

    // Set once at construction.
    std::FILE* const results_;
    const bool json_;

    std::mutex mutex_;
    std::condition_variable wake_;
    // Guarded by mutex_.
    std::deque<Queued> queue_;
    std::uint64_t dropped_ = 0;
    bool stopped_ = false;

    // Printing thread only: the merged record of every listed address.
    std::map<std::string, deviceinfo> known_;
};

}  // namespace cli
