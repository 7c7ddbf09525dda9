#include "printable_text.h"

#include <locale.h>
#include <wchar.h>

#include <cstdio>
#include <cstring>

namespace printable {

namespace {

// One character of the text, or one byte that starts no well-formed sequence.
struct Character {
    std::size_t length;  // bytes it takes
    char32_t code;       // meaningful when wellFormed
    bool wellFormed;
};

// Well-formed UTF-8 as Unicode defines it: no overlong forms, no surrogates,
// nothing above U+10FFFF.
Character Decode(std::string_view text, std::size_t at)
{
    const auto byte = [&](std::size_t index) { return static_cast<unsigned char>(text[index]); };
    const unsigned char lead = byte(at);
    if (lead < 0x80) return {1, lead, true};
    std::size_t length = 0;
    unsigned char low = 0x80, high = 0xBF;  // the range of the second byte
    char32_t code = 0;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        code = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        code = lead & 0x0F;
        if (lead == 0xE0) low = 0xA0;
        if (lead == 0xED) high = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        code = lead & 0x07;
        if (lead == 0xF0) low = 0x90;
        if (lead == 0xF4) high = 0x8F;
    }
    if (length == 0 || at + length > text.size()) return {1, 0, false};
    for (std::size_t next = 1; next < length; ++next) {
        const unsigned char continuation = byte(at + next);
        const bool inRange = next == 1 ? continuation >= low && continuation <= high : (continuation & 0xC0) == 0x80;
        if (!inRange) return {1, 0, false};
        code = (code << 6) | (continuation & 0x3F);
    }
    return {length, code, true};
}

bool IsControl(char32_t code) { return code < 0x20 || (code >= 0x7F && code < 0xA0); }

// Unicode's format characters (general category Cf), and the line and
// paragraph separators, which some viewers obey as line breaks.
bool IsFormat(char32_t code)
{
    struct Range {
        char32_t first, last;
    };
    static constexpr Range kFormat[] = {
        {0x00AD, 0x00AD},   {0x0600, 0x0605},   {0x061C, 0x061C},   {0x06DD, 0x06DD},   {0x070F, 0x070F},
        {0x0890, 0x0891},   {0x08E2, 0x08E2},   {0x180E, 0x180E},   {0x200B, 0x200F},   {0x2028, 0x202E},
        {0x2060, 0x2064},   {0x2066, 0x206F},   {0xFEFF, 0xFEFF},   {0xFFF9, 0xFFFB},   {0x110BD, 0x110BD},
        {0x110CD, 0x110CD}, {0x13430, 0x1343F}, {0x1BCA0, 0x1BCA3}, {0x1D173, 0x1D17A}, {0xE0001, 0xE0001},
        {0xE0020, 0xE007F},
    };
    for (const Range& range : kFormat) {
        if (code >= range.first && code <= range.last) return true;
    }
    return false;
}

// A character's cells on a terminal, as the C library's Unicode tables (the
// built-in C.UTF-8 locale, whatever this process's own locale) say: 2 for a
// wide character, 0 for a combining mark, 1 where they say nothing.
std::size_t CellsOf(char32_t code)
{
    static const locale_t unicode = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(nullptr));
    if (unicode == static_cast<locale_t>(nullptr)) return 1;
    const locale_t before = uselocale(unicode);
    const int cells = wcwidth(static_cast<wchar_t>(code));
    uselocale(before);
    return cells < 0 ? 1 : static_cast<std::size_t>(cells);
}

// Writes the text through `put(bytes, count)`, with `unsafe(character,
// bytes)` writing what stands in for each control character or broken byte.
template <typename Put, typename Unsafe>
void Write(std::string_view text, Put put, Unsafe unsafe)
{
    for (std::size_t at = 0; at < text.size();) {
        const Character character = Decode(text, at);
        const char* bytes = text.data() + at;
        at += character.length;
        if (!character.wellFormed || IsControl(character.code)) {
            unsafe(character, bytes);
        } else if (IsFormat(character.code)) {
            char shown[16];
            const int length = std::snprintf(shown, sizeof shown, "<U+%04X>", static_cast<unsigned>(character.code));
            put(shown, static_cast<std::size_t>(length));
        } else {
            put(bytes, character.length);
        }
    }
}

// "\xHH" for each byte of the character.
template <typename Put>
void PutByteEscapes(Put put, const Character& character, const char* bytes)
{
    for (std::size_t index = 0; index < character.length; ++index) {
        char escape[5];
        std::snprintf(escape, sizeof escape, "\\x%02x", static_cast<unsigned char>(bytes[index]));
        put(escape, 4);
    }
}

}  // namespace

std::string CellText(std::string_view text)
{
    std::string shown;
    shown.reserve(text.size());
    const auto put = [&shown](const char* bytes, std::size_t count) { shown.append(bytes, count); };
    Write(text, put, [&shown](const Character&, const char*) { shown += '?'; });
    return shown;
}

std::string LineText(std::string_view text)
{
    std::string shown;
    shown.reserve(text.size());
    const auto put = [&shown](const char* bytes, std::size_t count) { shown.append(bytes, count); };
    Write(text, put, [&put](const Character& character, const char* bytes) { PutByteEscapes(put, character, bytes); });
    return shown;
}

std::size_t LineTextInto(std::string_view text, char* out)
{
    // A byte grows at most to "\xHH"; a format character of two to four
    // bytes to "<U+XXXX>" or "<U+XXXXX>": never more than four bytes a byte.
    std::size_t length = 0;
    const auto put = [out, &length](const char* bytes, std::size_t count) {
        std::memcpy(out + length, bytes, count);
        length += count;
    };
    Write(text, put, [&put](const Character& character, const char* bytes) { PutByteEscapes(put, character, bytes); });
    out[length] = '\0';
    return length;
}

std::size_t DisplayWidth(std::string_view text)
{
    std::size_t width = 0;
    for (std::size_t at = 0; at < text.size();) {
        const Character character = Decode(text, at);
        at += character.length;
        width += character.wellFormed ? CellsOf(character.code) : 1;
    }
    return width;
}

void AppendJsonString(std::string& json, std::string_view text)
{
    json += '"';
    for (std::size_t at = 0; at < text.size();) {
        const char byte = text[at];
        if (byte >= 0x20 && byte < 0x7F && byte != '"' && byte != '\\') {  // most of every name
            json += byte;
            ++at;
            continue;
        }
        const Character character = Decode(text, at);
        const char* bytes = text.data() + at;
        at += character.length;
        if (!character.wellFormed) {
            json += "\xef\xbf\xbd";  // U+FFFD
            continue;
        }
        const char32_t code = character.code;
        const char* shortEscape = code == '"'    ? "\\\""
                                  : code == '\\' ? "\\\\"
                                  : code == '\b'  ? "\\b"
                                  : code == '\f'  ? "\\f"
                                  : code == '\n'  ? "\\n"
                                  : code == '\r'  ? "\\r"
                                  : code == '\t'  ? "\\t"
                                                  : nullptr;
        if (shortEscape != nullptr) {
            json += shortEscape;
        } else if (IsControl(code) || IsFormat(code)) {
            char escape[16];
            if (code < 0x10000) {
                std::snprintf(escape, sizeof escape, "\\u%04x", static_cast<unsigned>(code));
            } else {  // a surrogate pair
                const char32_t offset = code - 0x10000;
                std::snprintf(escape, sizeof escape, "\\u%04x\\u%04x", 0xD800 + static_cast<unsigned>(offset >> 10),
                              0xDC00 + static_cast<unsigned>(offset & 0x3FF));
            }
            json += escape;
        } else {
            json.append(bytes, character.length);
        }
    }
    json += '"';
}

}  // namespace printable
