// The printing side of --watch: the device store's events become the changes
// of a DeviceView on the thread that made them, and the changes the lines of
// FormatChange on the results stream, each as soon as it happens. Only a
// change wakes the printing thread: half the reports of a burst (the second
// kind of answer of a device) change nothing.
#pragma once

#include "device_output.h"
#include "device_view.h"
#include "src/store/device_store.h"

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <deque>
#include <mutex>
#include <string>

namespace cli {

// OnStoreEvent is the store's observer and runs on the store's threads; Run
// runs on one printing thread; Stop may come from any thread.
// Lock order: the store's event lock, then mutex_; Run never calls the store
// or writes while holding mutex_.
class WatchPrinter {
public:
    // `json` and `foundBy` as FormatChange takes them.
    WatchPrinter(std::FILE* results, bool json, bool foundBy = false);
    WatchPrinter(const WatchPrinter&) = delete;
    WatchPrinter& operator=(const WatchPrinter&) = delete;

    // Applies the event to the view and, when it is a change, queues it,
    // stamped with the time now, and wakes Run. Never writes the results and
    // never throws: a change that finds no memory is lost with a line on
    // standard error. While a reader that stalls keeps kMostQueuedChanges
    // queued, further changes are dropped and counted, and Run says so on
    // standard error.
    void OnStoreEvent(StoreEvent event, deviceinfo entry);

    // A full list's worth of appearances: the queue of a stalled reader
    // cannot grow with the changes a device makes up.
    static constexpr std::size_t kMostQueuedChanges = kMostListedDevices;

    // Ends Run once it has written what is queued.
    void Stop();
    bool Stopped();

    // Writes a line for every queued change, the changes queued together in
    // one write and flush, waiting for more until Stop(). False as soon as a
    // write fails.
    bool Run();

private:
    // After a write Run rests this long before it takes the next changes:
    // answers spread over seconds then cost one write and one wake-up per
    // few changes instead of per change. The first change after a quiet
    // moment is written at once, the others at most this much later.
    static constexpr std::chrono::milliseconds kRestAfterWriting{5};

    struct Queued {
        DeviceChange change;
        std::time_t when;
    };

    // Set once at construction.
    std::FILE* const results_;
    const bool json_;
    const bool foundBy_;

    std::mutex mutex_;
    std::condition_variable wake_;
    // Guarded by mutex_.
    std::deque<Queued> queue_;
    std::uint64_t dropped_ = 0;
    bool stopped_ = false;
    bool resting_ = false;  // Run rests after a write: nobody need wake it

    // The store's threads only, one at a time (its event lock).
    DeviceView view_;
};

}  // namespace cli
