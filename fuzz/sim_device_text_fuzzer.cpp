// A --device text through the simulator's parse, up to its first zero as a
// command line holds it. An accepted device must read back unchanged.
#include "sim_checks.h"

#include <cstdint>
#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const char* text = reinterpret_cast<const char*>(data);
    sim::SimDevice device;
    std::string error;
    if (sim::ParseDeviceText(std::string(text, strnlen(text, size)), device, error)) {
        fuzz::CheckReadsBack(device);
    } else {
        FUZZ_CHECK(fuzz::IsOnePrintableLine(error));
    }
    return 0;
}
