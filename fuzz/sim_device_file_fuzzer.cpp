// A --devices file through the simulator's reading of it. The file is a
// memory file named by its /proc/self/fd path, so nothing is left on disk.
#include "sim_checks.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <string>
#include <vector>

namespace {

int g_file = -1;
std::string g_path;

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    g_file = memfd_create("devices.json", MFD_CLOEXEC);
    FUZZ_CHECK(g_file >= 0);
    g_path = "/proc/self/fd/" + std::to_string(g_file);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FUZZ_CHECK(ftruncate(g_file, 0) == 0);
    FUZZ_CHECK(size == 0 || pwrite(g_file, data, size, 0) == static_cast<ssize_t>(size));

    std::vector<sim::SimDevice> devices;
    std::string error;
    if (sim::LoadDeviceFile(g_path, devices, error)) {
        for (const sim::SimDevice& device : devices) fuzz::CheckReadsBack(device);
    } else {
        FUZZ_CHECK(fuzz::IsOnePrintableLine(error));
    }
    return 0;
}
