#include "device_tracker.h"

#include "device_fields.h"

#include <algorithm>

namespace cli {

namespace {

bool SameDescription(const deviceinfo& left, const deviceinfo& right)
{
    return SameDeviceText(left.id, right.id) && SameDeviceText(left.ip, right.ip) && SameDeviceText(left.host, right.host) &&
           SameDeviceText(left.product, right.product) && SameDeviceText(left.detail, right.detail) &&
           SameDeviceText(left.version, right.version) && SameDeviceText(left.factory, right.factory);
}

// The report, with the detail and version of the same device filled in from
// what was known when the report lacks them.
deviceinfo Merged(const deviceinfo& known, const deviceinfo& report)
{
    deviceinfo merged = report;
    if (!SameDeviceText(known.id, report.id)) return merged;  // another device took the address
    if (merged.detail[0] == '\0') std::copy(std::begin(known.detail), std::end(known.detail), merged.detail);
    if (merged.version[0] == '\0') std::copy(std::begin(known.version), std::end(known.version), merged.version);
    return merged;
}

}  // namespace

std::vector<DeviceChange> DeviceTracker::Update(const std::vector<deviceinfo>& current,
                                                const std::set<std::string>& byebyeIds, bool aged)
{
    auto atAddress = [](const std::vector<deviceinfo>& list, const deviceinfo& device) {
        return std::find_if(list.begin(), list.end(),
                            [&](const deviceinfo& entry) { return SameDeviceText(entry.ip, device.ip); });
    };

    std::vector<DeviceChange> changes;
    std::vector<deviceinfo> next;
    next.reserve(current.size());
    for (const deviceinfo& report : current) {
        auto known = atAddress(known_, report);
        if (known == known_.end()) {
            changes.push_back({DeviceChange::Kind::Appeared, report});
            next.push_back(report);
            continue;
        }
        deviceinfo merged = Merged(*known, report);
        if (!SameDescription(*known, merged)) changes.push_back({DeviceChange::Kind::Changed, merged});
        next.push_back(merged);
    }
    for (const deviceinfo& gone : known_) {
        if (atAddress(current, gone) != current.end()) continue;
        // The id reaches `byebyeIds` a moment after the store dropped the
        // device, so the set alone can miss a bye-bye.
        const bool agedOut = aged && gone.lifetime < DEVICEINFO_DEFAULT_LIFETIME &&
                             byebyeIds.count(FieldText(gone.id)) == 0;
        changes.push_back({DeviceChange::Kind::Left, gone, !agedOut});
    }
    known_ = std::move(next);
    return changes;
}

}  // namespace cli
