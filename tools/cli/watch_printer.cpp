#include "watch_printer.h"

#include "engine/untrusted/printable_text.h"

#include <algorithm>
#include <new>
#include <utility>

namespace cli {

namespace {

bool SameDescription(const deviceinfo& left, const deviceinfo& right)
{
    return SameDeviceText(left.id, right.id) && SameDeviceText(left.ip, right.ip) &&
           SameDeviceText(left.host, right.host) && SameDeviceText(left.product, right.product) &&
           SameDeviceText(left.detail, right.detail) && SameDeviceText(left.version, right.version) &&
           SameDeviceText(left.factory, right.factory);
}

// The entry, with the detail and version of the same device filled in from
// what was known when the entry lacks them.
deviceinfo Merged(const deviceinfo& known, const deviceinfo& entry)
{
    deviceinfo merged = entry;
    if (!SameDeviceText(known.id, entry.id)) return merged;  // another device took the address
    if (merged.detail[0] == '\0') std::copy(std::begin(known.detail), std::end(known.detail), merged.detail);
    if (merged.version[0] == '\0') std::copy(std::begin(known.version), std::end(known.version), merged.version);
    return merged;
}

}  // namespace

WatchPrinter::WatchPrinter(std::FILE* results, bool json) : results_(results), json_(json) {}

void WatchPrinter::OnStoreEvent(StoreEvent event, deviceinfo entry)
{
    bool queued = true;
    bool wasEmpty = false;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (queue_.size() >= kMostQueuedEvents) {
            ++dropped_;
            return;
        }
        try {
            wasEmpty = queue_.empty();
            queue_.push_back({event, entry, std::time(nullptr)});
        } catch (const std::bad_alloc&) {
            queued = false;  // on a thread of the engine, where an exception has nowhere to go
        }
    }
    if (queued) {
        // Otherwise Run is busy and takes this event with the ones before it.
        if (wasEmpty) wake_.notify_one();
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
        for (const Queued& queued : events) {
            if (auto change = Change(queued.event, queued.entry)) lines += FormatChange(*change, queued.when, json_);
        }
        // Written and flushed at once: a reader of --watch wants each change as it happens.
        if (!lines.empty() && (std::fputs(lines.c_str(), results_) < 0 || std::fflush(results_) != 0)) return false;
        if (stopped) return true;
    }
}

std::optional<DeviceChange> WatchPrinter::Change(StoreEvent event, const deviceinfo& entry)
{
    const std::string ip = FieldText(entry.ip);
    const auto known = known_.find(ip);
    switch (event) {
    case StoreEvent::Appended:
        known_[ip] = entry;
        return DeviceChange{DeviceChange::Kind::Appeared, entry};
    case StoreEvent::Replaced: {
        if (known == known_.end()) {
            known_[ip] = entry;
            return DeviceChange{DeviceChange::Kind::Changed, entry};
        }
        const deviceinfo merged = Merged(known->second, entry);
        const bool changed = !SameDescription(known->second, merged);
        known->second = merged;
        if (!changed) return std::nullopt;
        return DeviceChange{DeviceChange::Kind::Changed, merged};
    }
    case StoreEvent::ByeBye:
    case StoreEvent::AgedOut: {
        DeviceChange left{DeviceChange::Kind::Left, entry, event == StoreEvent::ByeBye};
        if (known != known_.end()) {
            left.device = Merged(known->second, entry);
            known_.erase(known);
        }
        return left;
    }
    case StoreEvent::Cleared:
        // Nobody clears the list under --watch; a clear says nothing of the devices.
        if (known != known_.end()) known_.erase(known);
        return std::nullopt;
    }
    return std::nullopt;
}

}  // namespace cli
