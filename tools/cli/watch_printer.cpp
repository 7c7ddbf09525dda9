#include "watch_printer.h"

#include "engine/untrusted/printable_text.h"

#include <new>
#include <optional>
#include <utility>

namespace cli {

WatchPrinter::WatchPrinter(std::FILE* results, bool json, bool foundBy)
    : results_(results), json_(json), foundBy_(foundBy)
{
}

void WatchPrinter::OnStoreEvent(StoreEvent event, deviceinfo entry)
{
    bool queued = true;
    bool wakeRun = false;
    try {  // on a thread of the engine, where an exception has nowhere to go
        const std::optional<DeviceChange> change = view_.Apply(event, entry);
        if (!change) return;
        std::lock_guard<std::mutex> lock(mutex_);
        if (queue_.size() >= kMostQueuedChanges) {
            ++dropped_;
            return;
        }
        wakeRun = queue_.empty() && !resting_;
        queue_.push_back({*change, std::time(nullptr)});
    } catch (const std::bad_alloc&) {
        queued = false;
    }
    if (queued) {
        // Otherwise Run is busy or resting and takes this change with the ones before it.
        if (wakeRun) wake_.notify_one();
    } else {
        std::fprintf(stderr, "nasscout-cli: out of memory, a change of device %s not shown\n",
                     printable::LineText(printable::Field(entry.ip)).c_str());
    }
}

void WatchPrinter::Stop()
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopped_ = true;
    }
    wake_.notify_one();
}

bool WatchPrinter::Stopped()
{
    std::lock_guard<std::mutex> lock(mutex_);
    return stopped_;
}

bool WatchPrinter::Run()
{
    for (;;) {
        std::deque<Queued> events;
        bool stopped = false;
        std::uint64_t dropped = 0;
        {
            std::unique_lock<std::mutex> lock(mutex_);
            wake_.wait(lock, [this] { return stopped_ || !queue_.empty(); });
            events.swap(queue_);
            std::swap(dropped, dropped_);
            stopped = stopped_;
        }
        if (dropped > 0) {
            std::fprintf(stderr, "nasscout-cli: %llu changes not shown: standard output fell behind\n",
                         static_cast<unsigned long long>(dropped));
        }
        std::string lines;
        for (const Queued& queued : events) lines += FormatChange(queued.change, queued.when, json_, foundBy_);
        // Written and flushed at once: a reader of --watch wants each change as it happens.
        if (!lines.empty() && (std::fputs(lines.c_str(), results_) < 0 || std::fflush(results_) != 0)) return false;
        if (stopped) return true;
        std::unique_lock<std::mutex> lock(mutex_);
        resting_ = true;
        wake_.wait_for(lock, kRestAfterWriting, [this] { return stopped_; });
        resting_ = false;
    }
}

}  // namespace cli
