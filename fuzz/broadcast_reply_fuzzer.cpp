// One reply to the broadcast search through its parse. The worker hands the
// parse exactly DHCPPACKET_SIZE bytes with the op code checked; shorter
// inputs are padded with zeros, longer ones cut.
#include "engine/broadcast_reply.h"
#include "fuzz_check.h"
#include "record_checks.h"

#include <searchdevice/dhcppacket.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    // On the heap and exactly the reply's size, so a read past it is reported.
    std::unique_ptr<unsigned char[]> reply(new unsigned char[DHCPPACKET_SIZE]());
    std::memcpy(reply.get(), data, std::min<size_t>(size, DHCPPACKET_SIZE));
    reply[0] = DHCPPACKET_OP_REPLY;

    deviceinfo device;
    FUZZ_CHECK(ParseBroadcastReply(reply.get(), device) == 1);
    FUZZ_CHECK(fuzz::IsWellFormed(device));
    FUZZ_CHECK(device.type == reply[1]);
    // The worker sets ip itself; detail and version have no key.
    FUZZ_CHECK(device.ip[0] == '\0' && device.detail[0] == '\0' && device.version[0] == '\0');
    return 0;
}
