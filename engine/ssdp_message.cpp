#include "ssdp_message.h"

#include "bounded_text.h"
#include "engine/untrusted/device_address.h"
#include "engine/wire/wire_protocol.h"

#include <cstring>

using bounded::Cut;
using bounded::Find;
using bounded::FindChar;
using bounded::StartsWith;

namespace {

// The SERVER header's product text, before it is split at '/'.
constexpr std::size_t kProductPartSize = 64;

inline bool IsSpace(char c) { return c == ' ' || c == '\t'; }

inline bool EndsHost(char c) { return c == ':' || c == '/' || c == '\r' || c == '\n'; }

// ip is the host of the LOCATION URL, or the sender when there is none.
// A URL without "//" or without an end to its host is malformed. Either way
// the device would be opened at its ip, so it must be an address a device
// can have: never loopback, multicast or the like.
bool ReadAddress(const char* text, const char* end, const char* sender, deviceinfo& fields)
{
    const char* location = Find(text, end, wire::kLocationHeader);
    if (location == nullptr) {
        if (sender != nullptr) Cut(sender, sender + strnlen(sender, sizeof(fields.ip) - 1), fields.ip);
        return IsDeviceAddress(fields.ip);
    }
    const char* slashes = Find(location, end, "//");
    if (slashes == nullptr) return false;
    const char* host = slashes + 2;
    // Devices that leave out the port would otherwise get a host that runs
    // on into a later header; stop at the port, the path or the line's end.
    const char* hostEnd = host;
    while (hostEnd != end && !EndsHost(*hostEnd)) ++hostEnd;
    if (hostEnd == end) return false;
    Cut(host, hostEnd, fields.ip);
    return IsDeviceAddress(fields.ip);
}

// "a/b/c/d..." into factory, host, product and detail (the rest, slashes
// included); fields after the last '/' found stay empty.
void SplitProductPart(const char* part, deviceinfo& fields)
{
    const char* end = part + std::strlen(part);
    const char* slash1 = FindChar(part, end, '/');
    if (slash1 == nullptr) return;
    Cut(part, slash1, fields.factory);
    const char* slash2 = FindChar(slash1 + 1, end, '/');
    if (slash2 == nullptr) return;
    Cut(slash1 + 1, slash2, fields.host);
    const char* slash3 = FindChar(slash2 + 1, end, '/');
    if (slash3 == nullptr) {
        Cut(slash2 + 1, end, fields.product);
        return;
    }
    Cut(slash2 + 1, slash3, fields.product);
    Cut(slash3 + 1, end, fields.detail);
}

// "SERVER: VELD/<version>, <anything>, <product part>\r". Optional: a miss
// anywhere keeps what was filled up to it.
void ReadServer(const char* text, const char* end, deviceinfo& fields)
{
    const char* server = Find(text, end, wire::kServerHeader);
    if (server == nullptr) return;
    const char* token = Find(server, end, wire::kServerToken);
    if (token == nullptr) return;
    const char* version = token + sizeof(wire::kServerToken) - 1;
    const char* comma1 = FindChar(version, end, ',');
    if (comma1 == nullptr) return;
    Cut(version, comma1, fields.version);
    const char* comma2 = FindChar(comma1 + 1, end, ',');
    if (comma2 == nullptr || end - comma2 < 2) return;
    const char* part = comma2 + 2;  // the comma and the blank after it
    const char* cr = FindChar(part, end, '\r');
    if (cr == nullptr) return;
    char productPart[kProductPartSize];
    Cut(part, cr, productPart);
    SplitProductPart(productPart, fields);
}

// id is the text between "uuid:" and "::" after "USN:"; required.
bool ReadIdentifier(const char* text, const char* end, deviceinfo& fields)
{
    const char* usn = Find(text, end, wire::kUsnHeader);
    if (usn == nullptr) return false;
    const char* uuid = Find(usn, end, wire::kUuidPrefix);
    if (uuid == nullptr) return false;
    const char* id = uuid + sizeof(wire::kUuidPrefix) - 1;
    const char* idEnd = Find(id, end, "::");
    if (idEnd == nullptr) return false;
    Cut(id, idEnd, fields.id);
    return true;
}

// An answer, or a root device's announcement; other clients' M-SEARCH
// requests and anything else are dropped.
bool ReadKind(const char* text, const char* end, deviceinfo& fields)
{
    if (StartsWith(text, end, wire::kAnswerStart)) {
        fields.type = DEVICE_TYPE_ANSWER;
        return true;
    }
    if (!StartsWith(text, end, wire::kNotifyStart)) return false;
    if (Find(text, end, wire::kRootDevice) == nullptr) return false;
    const char* nts = Find(text, end, wire::kNtsHeader);
    if (nts == nullptr) return false;
    const char* value = SkipSpaces(nts + sizeof(wire::kNtsHeader) - 1, end);
    if (StartsWith(value, end, wire::kAliveNts))
        fields.type = DEVICE_TYPE_ALIVE;
    else if (StartsWith(value, end, wire::kByebyeNts))
        fields.type = DEVICE_TYPE_BYEBYE;
    else
        fields.type = DEVICE_TYPE_NONE;  // still a device; the store ignores it
    return true;
}

}  // namespace

const char* SkipSpaces(const char* text)
{
    if (text == nullptr) return nullptr;
    while (IsSpace(*text)) ++text;
    return text;
}

const char* SkipSpaces(const char* text, const char* end)
{
    if (text == nullptr) return nullptr;
    while (text < end && IsSpace(*text)) ++text;
    return text;
}

bool ParseSsdpMessage(const char* data, std::size_t length, const char* sender, deviceinfo& device)
{
    const char* end = bounded::TextEnd(data, length);
    if (Find(data, end, wire::kDeviceToken) == nullptr) return false;

    deviceinfo fields;  // the working storage: seven fields and the type, all empty
    if (!ReadAddress(data, end, sender, fields)) return false;
    ReadServer(data, end, fields);
    if (!ReadIdentifier(data, end, fields)) return false;
    if (!ReadKind(data, end, fields)) return false;
    device = fields;
    return true;
}
