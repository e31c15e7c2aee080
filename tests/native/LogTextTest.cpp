#include <gtest/gtest.h>

#include <string>

#include "engine/core/LogText.h"

using namespace fsp;

namespace {
const char kStamp[] = "Thu Jan 04 09:05:00 1996";
std::string Line(size_t cap, const char* host, const std::string& text) {
    std::string buf(cap, '\0');
    size_t n = FormatLogLine(&buf[0], cap, kStamp, host, text.c_str());
    EXPECT_EQ(buf[n], '\0');
    return buf.substr(0, n);
}
} // namespace

TEST(LogLine, FormsAndLineEnds) {
    EXPECT_EQ(Line(256, "10.0.0.7", "Unsupported Command!"),
              "Thu Jan 04 09:05:00 1996 [10.0.0.7]: Unsupported Command!\r\n");
    EXPECT_EQ(Line(1024, nullptr, "plain"), "Thu Jan 04 09:05:00 1996 plain\r\n");
    EXPECT_EQ(Line(1024, nullptr, "own\r\n"), "Thu Jan 04 09:05:00 1996 own\r\n");
    EXPECT_EQ(Line(1024, nullptr, "lf\n"), "Thu Jan 04 09:05:00 1996 lf\n\r\n");
}

TEST(LogLine, LongTextIsCutAndTheLineStillEnds) {
    std::string line = Line(256, "255.255.255.255", std::string(500, 'x'));
    EXPECT_EQ(line.size(), 255u);
    EXPECT_EQ(line.substr(253), "\r\n");
    line = Line(1024, nullptr, std::string(5000, 'y'));
    EXPECT_EQ(line.size(), 1023u);
    EXPECT_EQ(line.substr(1021), "\r\n");
    // Never inside a UTF-8 character: 217 bytes of text would end in the
    // first byte of an e acute.
    std::string acutes;
    for (int i = 0; i < 200; ++i) acutes += "\xC3\xA9";
    line = Line(256, "1.2.3.4", acutes);
    EXPECT_EQ(line.size(), 36u + 216u + 2u);
    EXPECT_EQ(line.substr(line.size() - 4), "\xC3\xA9\r\n");
}

TEST(LogLine, ControlCharactersOfClientTextAreEscaped) {
    char out[64];
    EXPECT_EQ(EscapeControl("a\r\nb\x7f\tc", out, sizeof(out)), 19u);
    EXPECT_STREQ(out, "a\\x0D\\x0Ab\\x7F\\x09c");
    // UTF-8 stays readable; what some reader takes for a line break, and
    // bytes that are no UTF-8, are escaped.
    const struct {
        const char* text;
        const char* written;
    } cases[] = {
        {"caf\xC3\xA9 \xE6\x97\xA5 \xF0\x9F\x93\x81", "caf\xC3\xA9 \xE6\x97\xA5 \xF0\x9F\x93\x81"},
        {"a\xE2\x80\xA8z", "a\\xE2\\x80\\xA8z"}, // U+2028 line separator
        {"\xE2\x80\xA9", "\\xE2\\x80\\xA9"},     // U+2029 paragraph separator
        {"\xC2\x85", "\\xC2\\x85"},                 // U+0085 next line
        {"\xC2\x9B", "\\xC2\\x9B"},                 // a C1 control
        {"\xD1\x85", "\\xD1\\x85"},                 // its 0x85 is NEL to a Latin-1 reader
        {"\x85", "\\x85"},
        {"\xE0\x82\x85", "\\xE0\\x82\\x85"},       // an overlong U+0085
        {"\xe9t\xe9", "\\xE9t\\xE9"},               // 8-bit text that is no UTF-8
        {"\xE2\x80", "\\xE2\\x80"},                 // cut short
    };
    for (const auto& c : cases) {
        EscapeControl(c.text, out, sizeof(out));
        EXPECT_STREQ(out, c.written);
    }
    // Cut at the buffer, never in the middle of an escape.
    char small[6];
    EXPECT_EQ(EscapeControl("ab\ncd", small, sizeof(small)), 2u);
    EXPECT_STREQ(small, "ab");
    EXPECT_EQ(EscapeControl("abcdefgh", small, sizeof(small)), 5u);
    EXPECT_STREQ(small, "abcde");
}
