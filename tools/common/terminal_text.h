// Text that came from a device or a command line, made safe to print on a
// terminal: nothing in it can move the cursor, change the title or start a
// new line.
#pragma once

#include <string>

namespace tools {

// Each control character (C0, DEL, C1) and each byte that is not part of
// well-formed UTF-8 becomes '?', so that a column keeps its width.
std::string TerminalText(const std::string& text);

// The same characters and bytes written as \xHH, one per byte, so that a
// message can say what was there.
std::string EscapedText(const std::string& text);

}  // namespace tools
