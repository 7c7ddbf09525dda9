// Text that came from the network (or a command line), made fit to show on a
// terminal, in a log line, in JSON or in a table: nothing in it can move the
// cursor, set a title, start a forged line or pass for other text.
//
// Pure functions, safe on any thread. The variants that write into a
// caller's buffer never allocate, for receive threads.
#pragma once

#include <cstddef>
#include <cstring>
#include <string>
#include <string_view>

namespace printable {

// The text of a fixed-size field, such as a device record's: up to its
// terminator, or all of it where it has none.
template <std::size_t N>
std::string_view Field(const char (&field)[N])
{
    return std::string_view(field, strnlen(field, N));
}

// Control characters (C0 with CR and LF, DEL, C1) and bytes that are not
// well-formed UTF-8 become '?' each, so that a table column keeps its width.
// Format characters, which show nothing (zero-width U+200B, the bidi
// overrides such as U+202E, U+FEFF ...), become "<U+200B>": "at<U+200B>las"
// cannot pass for "atlas".
std::string CellText(std::string_view text);

// The same with "\xHH" for each byte of a control character or of a broken
// sequence, so that a message or a log line says what was there.
std::string LineText(std::string_view text);

// LineText into `out`, which has room for kLineTextGrowth * text.size() + 1
// bytes: the text, zero-terminated; its length. Never allocates.
constexpr std::size_t kLineTextGrowth = 4;
std::size_t LineTextInto(std::string_view text, char* out);

// How many terminal cells `text` (UTF-8, as CellText makes it) takes: 2 for
// an East Asian wide or fullwidth character, 0 for a combining mark, 1 for
// anything else, as the C library's Unicode tables say. Columns of a table
// are padded by it.
std::size_t DisplayWidth(std::string_view text);

// Appends `text` to `json` as a JSON string: quoted, with '"' and '\\'
// escaped, control characters (C0, DEL, C1) and format characters written
// as \u escapes (\n, \t and the like for the usual ones), and each byte that
// is not well-formed UTF-8 replaced by U+FFFD. A JSON reader gets the text
// back, and nothing in the line can drive a terminal or hide a character.
void AppendJsonString(std::string& json, std::string_view text);

}  // namespace printable
