// What becomes of text and addresses from the network before anything shows,
// logs or opens them.
#include "engine/untrusted/device_address.h"
#include "engine/untrusted/printable_text.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

namespace {

// Controls become '?' in a cell and \xHH in a line; format characters become
// <U+XXXX> in both; a JSON string gets \u escapes for both and U+FFFD for
// what is not UTF-8.
TEST(PrintableText, ShowsWhatATerminalWouldObeyOrWhatShowsNothing)
{
    const struct {
        const char* story;
        std::string text, cell, line, json;
    } cases[] = {
        {"printable UTF-8", "Bücher-NAS", "Bücher-NAS", "Bücher-NAS", R"("Bücher-NAS")"},
        {"a title escape", "nas\x1b]0;owned\x07", "nas?]0;owned?", "nas\\x1b]0;owned\\x07", R"("nas\u001b]0;owned\u0007")"},
        {"a forged log line", "id\r\nfake*[01::00:00:00]", "id??fake*[01::00:00:00]",
         "id\\x0d\\x0afake*[01::00:00:00]", R"("id\r\nfake*[01::00:00:00]")"},
        {"quotes, a backslash, a tab", "say \"hi\"\\\t", "say \"hi\"\\?", "say \"hi\"\\\\x09", R"("say \"hi\"\\\t")"},
        {"DEL", "a\x7f" "b", "a?b", "a\\x7fb", R"("a\u007fb")"},
        {"C1 control CSI", "\xc2\x9b" "2J", "?2J", "\\xc2\\x9b2J", R"("\u009b2J")"},
        {"zero width space", "at\xe2\x80\x8blas", "at<U+200B>las", "at<U+200B>las", R"("at\u200blas")"},
        {"right-to-left override", "\xe2\x80\xae" "fdp.exe", "<U+202E>fdp.exe", "<U+202E>fdp.exe", R"("\u202efdp.exe")"},
        {"a soft hyphen: four bytes a byte, the most", "\xc2\xad", "<U+00AD>", "<U+00AD>", R"("\u00ad")"},
        {"a tag character", "x\xf3\xa0\x80\x81", "x<U+E0001>", "x<U+E0001>", R"("x\udb40\udc01")"},
        {"overlong ESC", "\xc0\x9b", "??", "\\xc0\\x9b", "\"\uFFFD\uFFFD\""},
        {"a surrogate", "\xed\xa0\x80", "???", "\\xed\\xa0\\x80", "\"\uFFFD\uFFFD\uFFFD\""},
        {"Latin-1 byte", "caf\xe9", "caf?", "caf\\xe9", "\"caf\uFFFD\""},
        {"bytes no UTF-8 has", "\xff\xfe", "??", "\\xff\\xfe", "\"\uFFFD\uFFFD\""},
        {"cut-off sequence", "\xe2\x82", "??", "\\xe2\\x82", "\"\uFFFD\uFFFD\""},
    };
    for (const auto& test : cases) {
        EXPECT_EQ(printable::CellText(test.text), test.cell) << test.story;
        EXPECT_EQ(printable::LineText(test.text), test.line) << test.story;
        std::string json;
        printable::AppendJsonString(json, test.text);
        EXPECT_EQ(json, test.json) << test.story;
        // Exactly the room the contract promises, so the sanitizers see an overrun.
        auto out = std::make_unique<char[]>(printable::kLineTextGrowth * test.text.size() + 1);
        EXPECT_EQ(std::string(out.get(), printable::LineTextInto(test.text, out.get())), test.line) << test.story;
        EXPECT_EQ(printable::LineText(test.line), test.line) << "escaping twice changes nothing: " << test.story;
    }
}

TEST(DeviceAddress, TakesOnlyTheDottedFormOfAnAddressADeviceCanHave)
{
    const struct {
        std::string text;
        bool taken;
    } cases[] = {
        {"192.0.2.10", true},       {"10.0.0.1", true},         {"169.254.3.4", true},
        {"223.255.255.254", true},  {"1.0.0.0", true},          {"192.168.1.255", true},
        {"127.0.0.1", false},       {"127.255.0.9", false},     {"0.0.0.0", false},
        {"0.1.2.3", false},         {"255.255.255.255", false}, {"224.0.0.251", false},
        {"239.143.255.250", false}, {"240.0.0.1", false},       {"192.0.2", false},
        {"192.0.2.10.1", false},    {"192.0.2.010", false},     {"192.0.2.256", false},
        {"192.0.2.1000", false},    {" 192.0.2.1", false},      {"192.0.2.1:80", false},
        {"0x7f.0.0.1", false},      {"", false},                {std::string("192.0.2.1\0.5", 12), false},
    };
    for (const auto& test : cases) EXPECT_EQ(IsDeviceAddress(test.text), test.taken) << test.text;
    EXPECT_EQ(DeviceAddress("192.0.2.10"), 0xC000020Au);
}

}  // namespace
