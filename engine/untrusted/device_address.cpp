#include "device_address.h"

std::optional<std::uint32_t> DeviceAddress(std::string_view text)
{
    std::uint32_t address = 0;
    std::size_t at = 0;
    for (int octet = 0; octet < 4; ++octet) {
        if (octet > 0 && (at == text.size() || text[at++] != '.')) return std::nullopt;
        const std::size_t start = at;
        unsigned value = 0;
        while (at < text.size() && at - start < 3 && text[at] >= '0' && text[at] <= '9')
            value = value * 10 + static_cast<unsigned>(text[at++] - '0');
        const std::size_t digits = at - start;
        if (digits == 0 || value > 255 || (digits > 1 && text[start] == '0')) return std::nullopt;
        address = (address << 8) | value;
    }
    if (at != text.size()) return std::nullopt;

    const std::uint32_t first = address >> 24;
    if (first == 0 || first == 127 || first >= 224) return std::nullopt;
    return address;
}
