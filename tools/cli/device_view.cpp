#include "device_view.h"

#include "engine/untrusted/device_address.h"
#include "engine/untrusted/printable_text.h"

#include <algorithm>
#include <functional>
#include <iterator>
#include <string_view>

namespace cli {

namespace {

using TextField = char (deviceinfo::*)[DEVICEINFO_TEXT_SIZE];
// The fields an answer may leave out; the id and the address never are.
constexpr TextField kDescription[] = {&deviceinfo::host,   &deviceinfo::product, &deviceinfo::detail,
                                      &deviceinfo::version, &deviceinfo::factory};

// The key a device is shown under: its address, numerically; an address no
// device can have (a record made elsewhere) after every other.
unsigned long long AddressKey(const deviceinfo& device)
{
    const auto address = DeviceAddress(printable::Field(device.ip));
    return address ? *address : (1ULL << 32) + std::hash<std::string_view>{}(printable::Field(device.ip));
}

// A DNS-SD host's record is whole: its source makes it anew from every
// service the host announces, so a field it leaves empty is empty.
bool IsWholeRecord(const deviceinfo& entry) { return entry.type == kDnssdHostType; }

// `entry` with the fields it leaves empty filled from what the same device
// (the same id) said before; another device at the address starts afresh.
deviceinfo Merged(const deviceinfo& before, const deviceinfo& entry)
{
    deviceinfo merged = entry;
    if (!SameDeviceText(before.id, entry.id) || IsWholeRecord(entry)) return merged;
    for (TextField field : kDescription) {
        if ((merged.*field)[0] == '\0') std::copy(std::begin(before.*field), std::end(before.*field), merged.*field);
    }
    return merged;
}

// Whether a field the device gave before now has another value; of a whole
// record, whether any field has.
bool ReallyChanged(const deviceinfo& before, const deviceinfo& after)
{
    if (!SameDeviceText(before.id, after.id)) return true;
    return std::any_of(std::begin(kDescription), std::end(kDescription), [&](TextField field) {
        return ((before.*field)[0] != '\0' || IsWholeRecord(after)) && !SameDeviceText(before.*field, after.*field);
    });
}

}  // namespace

std::optional<DeviceChange> DeviceView::Apply(StoreEvent event, const deviceinfo& entry)
{
    const unsigned long long key = AddressKey(entry);
    const auto known = shown_.find(key);
    switch (event) {
    case StoreEvent::Appended:
    case StoreEvent::Replaced: {
        if (known == shown_.end()) {
            shown_[key] = entry;
            return DeviceChange{DeviceChange::Kind::Appeared, entry};
        }
        const deviceinfo merged = Merged(known->second, entry);
        const bool changed = ReallyChanged(known->second, merged);
        known->second = merged;
        if (!changed) return std::nullopt;
        return DeviceChange{DeviceChange::Kind::Changed, merged};
    }
    case StoreEvent::ByeBye:
    case StoreEvent::AgedOut: {
        DeviceChange left{DeviceChange::Kind::Left, entry, event == StoreEvent::ByeBye};
        if (known != shown_.end()) {
            left.device = Merged(known->second, entry);
            shown_.erase(known);
        }
        return left;
    }
    case StoreEvent::Cleared:
        // Nobody clears the list under nasscout-cli; a clear says nothing of the devices.
        if (known != shown_.end()) shown_.erase(known);
        return std::nullopt;
    }
    return std::nullopt;
}

std::vector<deviceinfo> DeviceView::Devices() const
{
    std::vector<deviceinfo> devices;
    devices.reserve(shown_.size());
    for (const auto& [key, device] : shown_) devices.push_back(device);
    return devices;
}

}  // namespace cli
