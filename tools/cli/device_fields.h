// Reading a record's fixed text fields.
#pragma once

#include <searchdevice/deviceinfo.h>

#include <cstring>  // strnlen
#include <string>

namespace cli {

// A record's text field: up to its terminator or its 32nd byte, whichever
// comes first; a field without a terminator is still read safely.
inline std::string FieldText(const char (&field)[DEVICEINFO_TEXT_SIZE])
{
    return std::string(field, strnlen(field, DEVICEINFO_TEXT_SIZE));
}

}  // namespace cli
