/* The device record: one found device, as the engine reports it.
 *
 * The record crosses the library's C interface and is always copied whole,
 * as one block of bytes, so it stays standard-layout with no pointers:
 * seven 32-byte texts, a 32-bit report kind and a 64-bit lifetime (240 bytes
 * on x86-64). Every text holds at most 31 characters and is zero-filled after
 * its terminator. Usable from C and C++; C++ adds construction, clear() and
 * compare(). */
#ifndef SEARCHDEVICE_DEVICEINFO_H
#define SEARCHDEVICE_DEVICEINFO_H

#include <stdint.h>
#ifdef __cplusplus
#include <cstddef>
#include <cstring>
#endif

#define DEVICEINFO_TEXT_SIZE 32
#define DEVICEINFO_DEFAULT_LIFETIME 60

/* Report kinds carried in deviceinfo.type. Other values pass through unchanged. */
#define DEVICE_TYPE_NONE 0   /* cleared record, or an announcement that is neither alive nor bye-bye */
#define DEVICE_TYPE_ANSWER 1 /* answer to a search */
#define DEVICE_TYPE_ALIVE 2  /* the device announced itself */
#define DEVICE_TYPE_BYEBYE 4 /* the device announced that it leaves */

#ifdef __cplusplus
/* Whether two texts of a record field are the same: equal up to their
 * terminators, or over all 32 bytes where a field has none. */
inline bool SameDeviceText(const char* left, const char* right)
{
    return std::strncmp(left, right, DEVICEINFO_TEXT_SIZE) == 0;
}

struct deviceinfo {
#else
typedef struct deviceinfo {
#endif
    char id[DEVICEINFO_TEXT_SIZE];
    char ip[DEVICEINFO_TEXT_SIZE];
    char host[DEVICEINFO_TEXT_SIZE];
    char product[DEVICEINFO_TEXT_SIZE];
    char detail[DEVICEINFO_TEXT_SIZE];
    char version[DEVICEINFO_TEXT_SIZE];
    char factory[DEVICEINFO_TEXT_SIZE];
    int32_t type;
    int64_t lifetime;

#ifdef __cplusplus
    deviceinfo() { clear(); }

    /* Back to the constructed state: texts zero-filled, type 0, lifetime 60. */
    void clear()
    {
        std::memset(static_cast<void*>(this), 0, sizeof(*this));
        lifetime = DEVICEINFO_DEFAULT_LIFETIME;
    }

    /* True when both records describe the same report: all seven texts
     * (each up to its terminator or its 32nd character) and type are equal.
     * lifetime is not compared. */
    bool compare(deviceinfo other) const
    {
        return SameDeviceText(id, other.id) && SameDeviceText(ip, other.ip) && SameDeviceText(host, other.host) &&
               SameDeviceText(product, other.product) && SameDeviceText(detail, other.detail) &&
               SameDeviceText(version, other.version) && SameDeviceText(factory, other.factory) &&
               type == other.type;
    }
};
#else
} deviceinfo;
#endif

#ifdef __cplusplus
#include <type_traits>
static_assert(std::is_standard_layout<deviceinfo>::value, "deviceinfo crosses a C interface");
static_assert(std::is_trivially_copyable<deviceinfo>::value, "deviceinfo is copied as a block");
static_assert(sizeof(deviceinfo) == 7 * DEVICEINFO_TEXT_SIZE + 4 + 4 + 8, "deviceinfo layout");
static_assert(offsetof(deviceinfo, type) == 224 && offsetof(deviceinfo, lifetime) == 232, "deviceinfo layout");
#else
_Static_assert(sizeof(deviceinfo) == 240, "deviceinfo layout");
#endif

#endif
