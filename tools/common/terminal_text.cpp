#include "terminal_text.h"

#include <algorithm>
#include <cstddef>
#include <cstdio>

namespace tools {

namespace {

// Bytes in the well-formed UTF-8 sequence starting at `at`, or 0. Lead bytes
// C0 and C1 (overlong forms) and F5 to FF never start one.
std::size_t SequenceLength(const std::string& text, std::size_t at)
{
    const auto lead = static_cast<unsigned char>(text[at]);
    std::size_t length = lead < 0x80                    ? 1
                         : lead >= 0xC2 && lead <= 0xDF ? 2
                         : lead >= 0xE0 && lead <= 0xEF ? 3
                         : lead >= 0xF0 && lead <= 0xF4 ? 4
                                                        : 0;
    if (length == 0 || at + length > text.size()) return 0;
    for (std::size_t next = at + 1; next < at + length; ++next) {
        if ((static_cast<unsigned char>(text[next]) & 0xC0) != 0x80) return 0;
    }
    return length;
}

bool IsControl(const std::string& text, std::size_t at, std::size_t length)
{
    const auto lead = static_cast<unsigned char>(text[at]);
    if (length == 1) return lead < 0x20 || lead == 0x7F;
    // U+0080 to U+009F, which some terminals obey as escapes.
    return length == 2 && lead == 0xC2 && static_cast<unsigned char>(text[at + 1]) < 0xA0;
}

// `text` with every unsafe character or byte replaced by what `replace` makes of its bytes.
template <typename Replace>
std::string Safe(const std::string& text, Replace replace)
{
    std::string safe;
    safe.reserve(text.size());
    for (std::size_t at = 0; at < text.size();) {
        const std::size_t length = SequenceLength(text, at);
        if (length == 0 || IsControl(text, at, length)) {
            const std::size_t unsafe = std::max<std::size_t>(length, 1);
            replace(text.substr(at, unsafe), safe);
            at += unsafe;
            continue;
        }
        safe.append(text, at, length);
        at += length;
    }
    return safe;
}

}  // namespace

std::string TerminalText(const std::string& text)
{
    return Safe(text, [](const std::string&, std::string& safe) { safe += '?'; });
}

std::string EscapedText(const std::string& text)
{
    return Safe(text, [](const std::string& bytes, std::string& safe) {
        for (unsigned char byte : bytes) {
            char escape[5];
            std::snprintf(escape, sizeof escape, "\\x%02x", byte);
            safe += escape;
        }
    });
}

}  // namespace tools
