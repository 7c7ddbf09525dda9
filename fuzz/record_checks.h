// What the engine promises about every record it reports.
#pragma once

#include <searchdevice/deviceinfo.h>

#include <initializer_list>

namespace fuzz {

// A record as the engine promises it: every text ends within its field and
// is zero-filled after its end, and it lives the default lifetime.
inline bool IsWellFormed(const deviceinfo& device)
{
    for (const char* text : {device.id, device.ip, device.host, device.product, device.detail, device.version,
                             device.factory}) {
        bool ended = false;
        for (int i = 0; i < DEVICEINFO_TEXT_SIZE; ++i) {
            if (ended && text[i] != '\0') return false;
            ended = ended || text[i] == '\0';
        }
        if (!ended) return false;
    }
    return device.lifetime == DEVICEINFO_DEFAULT_LIFETIME;
}

// The kinds the SSDP parse gives: an answer, alive, bye-bye, or another NTS.
inline bool IsSsdpKind(int32_t type)
{
    return type == DEVICE_TYPE_ANSWER || type == DEVICE_TYPE_ALIVE || type == DEVICE_TYPE_BYEBYE ||
           type == DEVICE_TYPE_NONE;
}

// Four numbers from 0 to 255 joined by dots, nothing else, and none of the
// addresses no device answers from (0, 127 and 224 and above first): what
// the window may open as http://IP.
inline bool IsDeviceDottedQuad(const char* text)
{
    int first = -1;
    for (int octet = 0; octet < 4; ++octet) {
        if (octet > 0 && *text++ != '.') return false;
        int value = 0;
        int digits = 0;
        for (; *text >= '0' && *text <= '9'; ++text, ++digits) value = value * 10 + (*text - '0');
        if (digits == 0 || digits > 3 || value > 255) return false;
        if (octet == 0) first = value;
    }
    return *text == '\0' && first != 0 && first != 127 && first < 224;
}

}  // namespace fuzz
