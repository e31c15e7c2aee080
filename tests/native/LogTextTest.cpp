#include <gtest/gtest.h>

#include <string>

#include "engine/core/LogText.h"
#include "engine/core/Status.h"

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
    // Not inside a UTF-8 character: room for 217 bytes is 108 e acutes.
    std::string acutes;
    for (int i = 0; i < 200; ++i) acutes += "\xC3\xA9";
    EXPECT_EQ(Line(256, "1.2.3.4", acutes), std::string(kStamp) + " [1.2.3.4]: " + acutes.substr(0, 216) + "\r\n");
    // Nor inside an escape.
    for (size_t at : {213u, 214u, 216u}) {
        std::string text = std::string(at, 'e') + "\\x0D";
        EXPECT_EQ(Line(256, "1.2.3.4", text), std::string(kStamp) + " [1.2.3.4]: " + text.substr(0, at == 213 ? 217 : at) + "\r\n");
    }
}

TEST(LogLine, ControlCharactersOfClientTextAreEscaped) {
    char out[256];
    EXPECT_EQ(EscapeControl("a\r\nb\x7f\tc", out, sizeof(out)), 19u);
    EXPECT_STREQ(out, "a\\x0D\\x0Ab\\x7F\\x09c");
    // UTF-8 stays readable; line breaks of UTF-8 and Latin-1 readers (0x85
    // even inside a character), C1 controls, overlong forms, non-UTF-8 not.
    EscapeControl("caf\xC3\xA9 \xE6\x97\xA5\xE2\x80\xA8\xE2\x80\xA9\xC2\x85\xC2\x9B\xD1\x85\xE0\x82\x85\xE9", out, sizeof(out));
    EXPECT_STREQ(out, "caf\xC3\xA9 \xE6\x97\xA5\\xE2\\x80\\xA8\\xE2\\x80\\xA9\\xC2\\x85\\xC2\\x9B\\xD1\\x85"
                       "\\xE0\\x82\\x85\\xE9");
    // A client's "\x0D" is no escaped CR; a path's backslashes stay. Bidi controls are escaped.
    EscapeControl("\\x0D Z:\\r\\f", out, sizeof(out));
    EXPECT_STREQ(out, "\\x5Cx0D Z:\\r\\f");
    EscapeControl("a\xE2\x80\xAEtxt.exe\xD8\x9C\xE2\x81\xA6\xE2\x81\xA9\xE2\x80\x8E\xE2\x81\xA5", out, sizeof(out));
    EXPECT_STREQ(out, "a\\xE2\\x80\\xAEtxt.exe\\xD8\\x9C\\xE2\\x81\\xA6\\xE2\\x81\\xA9\\xE2\\x80\\x8E\xE2\x81\xA5");
    // So are the invisible format characters; their neighbours (U+200A, U+2070, U+FFFC) stay.
    EscapeControl("\xE2\x80\x8B\xEF\xBB\xBF\xE2\x81\xA0\xE1\xA0\x8E\xE2\x81\xAA\xE2\x81\xAF\xEF\xBF\xB9\xEF\xBF\xBB"
                  "\xF3\xA0\x80\x81\xE2\x80\x8A\xE2\x81\xB0\xEF\xBF\xBC", out, sizeof(out));
    EXPECT_STREQ(out, "\\xE2\\x80\\x8B\\xEF\\xBB\\xBF\\xE2\\x81\\xA0\\xE1\\xA0\\x8E\\xE2\\x81\\xAA\\xE2\\x81\\xAF"
                       "\\xEF\\xBF\\xB9\\xEF\\xBF\\xBB\\xF3\\xA0\\x80\\x81\xE2\x80\x8A\xE2\x81\xB0\xEF\xBF\xBC");
    // Cut at the buffer, never in the middle of an escape.
    char small[6];
    EXPECT_EQ(EscapeControl("ab\ncd", small, sizeof(small)), 2u);
    EXPECT_STREQ(small, "ab");
    EXPECT_EQ(EscapeControl("abcdefgh", small, sizeof(small)), 5u);
    EXPECT_STREQ(small, "abcde");
}

// The status bar's one line: each state in its words, cut between characters.
TEST(StatusLine, EachStateInItsWords) {
    std::string out(512, '\0');
    auto line = [&](const ServerStatus& s, size_t cap = 512) { return out.substr(0, FormatStatus(s, &out[0], cap)); };
    EXPECT_EQ(line({21, 1, "C:\\fsp\\"}), "UDP port 21 | read only | root C:\\fsp\\");
    EXPECT_EQ(line({21, 1, "C:\\fsp\\", 1, 0, 1}), "UDP port 21 | uploads only, access files | root C:\\fsp\\");
    const ServerStatus down{21, 0, "C:\\fsp\\", 1, 8, 0, 0, "UDP port 21 is in use by another program", "the root does not exist"};
    EXPECT_FALSE(Serving(down));
    EXPECT_EQ(line(down), "Not serving: UDP port 21 is in use by another program; the root does not exist; Accept "
                          "Incoming Requests is off | UDP port 21 (not bound) | read and write | root C:\\fsp\\");
    ServerStatus hosts{21, 1, "C:\\"};
    hosts.hostsProblem = "Rule 2 \"10.0.0.0/33 N\": bad mask";
    hosts.refused = 7;
    EXPECT_EQ(line(hosts), "Not serving: Rule 2 \"10.0.0.0/33 N\": bad mask | UDP port 21 | read only | 7 refused | root C:\\");
    EXPECT_EQ(line({0, 0, "Z:\\caf\xC3\xA9"}, 82), "Not serving: no port is bound | UDP port 0 (not bound) | read only | root Z:\\caf");
}
