// What nasscout-cli shows of the devices: per address, the fields known from
// the device's answers. The store keeps one entry per address and overwrites
// it with every report, and a broadcast reply carries no detail and no
// version where a multicast answer does: the two kinds alternate in the
// store from pass to pass. The view fills a field an answer leaves empty from
// what the same device said before, so that a field one kind of answer does
// not carry never comes and goes: the one-shot table is the same every run,
// and --watch says "appeared" once per device and "changed" only when a
// field the device gave before now has another value. A DNS-SD host's record
// is whole, made anew from all its services: any field that differs is a
// change, a model learnt later included.
//
// Not thread-safe: its owner feeds it the store's events one at a time.
#pragma once

#include "src/store/device_store.h"

#include <cstddef>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace cli {

// What an event did to the devices shown.
struct DeviceChange {
    enum class Kind { Appeared, Changed, Left };
    Kind kind;
    deviceinfo device;    // as shown after the change; for Left, as last shown
    bool byebye = false;  // Left only: the device said bye-bye (else it aged out)
};

class DeviceView {
public:
    // Takes one of the store's events; the change to show, if it is one.
    // Report kind and lifetime are never a change.
    std::optional<DeviceChange> Apply(StoreEvent event, const deviceinfo& entry);

    // The devices shown now, in address order.
    std::vector<deviceinfo> Devices() const;
    std::size_t size() const { return shown_.size(); }

private:
    // By address, numerically: what the table lists in this order.
    std::map<unsigned long long, deviceinfo> shown_;
};

}  // namespace cli
