// Assembly of log lines. Platform-free, so the line rules are tested natively.
#pragma once

#include <cstddef>

namespace fsp {

constexpr size_t kAddressLineSize = 256; // a line naming a client, NUL included
constexpr size_t kPlainLineSize = 1024;  // a line without address, NUL included
constexpr size_t kStampLength = 24;      // "Thu Jan 04 09:05:00 1996"

// Copies text into out (cap bytes, always NUL-terminated) so that a
// client's text can never start a line of its own or pass for other text,
// whatever reads the log: a byte stays raw only as printable ASCII or as
// part of a well-formed UTF-8 character that no common reader takes for a
// line break or a change of direction; every other byte is written as
// \xNN. Escaped are the controls (below 0x20, 0x7F, and U+0080 to U+009F,
// where U+0085 is NEL), U+2028 and U+2029, the bidirectional controls
// (U+061C, U+200E, U+200F, U+202A to U+202E, U+2066 to U+2069), the
// invisible format characters (U+200B, U+FEFF, U+2060, U+180E, U+206A to
// U+206F, U+FFF9 to U+FFFB, U+E0001), bytes that
// are no UTF-8, every character whose encoding holds the byte 0x85, which
// a Latin-1 reader takes for NEL, and a backslash before an 'x', so that
// every "\x" in the result starts an escape. A text too long is cut
// between characters. Returns the length written.
size_t EscapeControl(const char* text, char* out, size_t cap);

// Assembles one line into out (cap bytes): stamp, then " [host]: " when host
// is given or " " when not, then text, then CR LF unless the line already
// holds a CR. A text too long for the line is cut, not inside a UTF-8
// character nor inside an escape, so that the line end still fits. Returns the line's length
// without NUL.
size_t FormatLogLine(char* out, size_t cap, const char* stamp, const char* host,
                     const char* text);

} // namespace fsp
