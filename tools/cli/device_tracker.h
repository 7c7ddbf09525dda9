// What --watch reports: the differences between successive copies of the
// device store's list.
//
// The store keeps one entry per address and overwrites it with every report,
// and a broadcast reply carries no detail or version where a multicast answer
// does. The tracker therefore remembers, per address, the last detail and
// version it saw, so that the two kinds of answer alternating each pass are
// not reported as changes. Report kind and lifetime are never a change.
#pragma once

#include <searchdevice/deviceinfo.h>

#include <set>
#include <string>
#include <vector>

namespace cli {

struct DeviceChange {
    enum class Kind { Appeared, Changed, Left };
    Kind kind;
    deviceinfo device;    // as known after the change; for Left, as last known
    bool byebye = false;  // Left only: the device said bye-bye (else it aged out)
};

class DeviceTracker {
public:
    // Takes the store's list `current` as the new state and returns what
    // changed since the last call: appearances and changes in list order,
    // then departures. A departed device aged out only when an ageing pass
    // ran since the last call (`aged`), it was last seen already aged once
    // (a fresh entry survives a pass) and its id is not in `byebyeIds`;
    // otherwise it left with a bye-bye, the store's only other way out.
    std::vector<DeviceChange> Update(const std::vector<deviceinfo>& current, const std::set<std::string>& byebyeIds,
                                     bool aged);

private:
    std::vector<deviceinfo> known_;  // merged records, in the store's order
};

}  // namespace cli
