// One received datagram through the SSDP parse, from a block of exactly its
// size: a read past the datagram is an AddressSanitizer report.
#include "engine/ssdp_message.h"
#include "fuzz_check.h"
#include "record_checks.h"

#include <cstdint>
#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    deviceinfo untouched;
    std::strcpy(untouched.id, "untouched");
    untouched.type = 7;
    deviceinfo device = untouched;
    if (!ParseSsdpMessage(reinterpret_cast<const char*>(data), size, "192.0.2.99", device)) {
        FUZZ_CHECK(std::memcmp(&device, &untouched, sizeof device) == 0);
        return 0;
    }
    FUZZ_CHECK(fuzz::IsWellFormed(device));
    FUZZ_CHECK(fuzz::IsSsdpKind(device.type));
    FUZZ_CHECK(fuzz::IsDeviceDottedQuad(device.ip));
    return 0;
}
