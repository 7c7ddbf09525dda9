// What the simulator's tests share: where the program is and one complete
// device description; scratch directories are TemporaryDirectory.
#pragma once

#include "temporary_log.h"

#include <string>

namespace simtest {

constexpr char kSimPath[] = NASSCOUT_SIM_PATH;

// --device text of the device most tests play; its address is the caller's.
inline std::string DeviceText(const std::string& ip)
{
    return "ip=" + ip + ",id=4f2a-77,host=nas1,vendor=ZORVA,product=NS200,detail=A1,version=2.1.0";
}

}  // namespace simtest
