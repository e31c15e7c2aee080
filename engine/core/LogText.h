// Assembly of log lines. Platform-free, so the line rules are tested natively.
#pragma once

#include <cstddef>

namespace fsp {

constexpr size_t kAddressLineSize = 256; // a line naming a client, NUL included
constexpr size_t kPlainLineSize = 1024;  // a line without address, NUL included
constexpr size_t kStampLength = 24;      // "Thu Jan 04 09:05:00 1996"

// Copies text into out (cap bytes, always NUL-terminated), writing every
// control character (below 0x20, and 0x7F) as \xNN so that a client's text
// can never start a line of its own. Returns the length written.
size_t EscapeControl(const char* text, char* out, size_t cap);

// Assembles one line into out (cap bytes): stamp, then " [host]: " when host
// is given or " " when not, then text, then CR LF unless the line already
// holds a CR. A text too long for the line is cut so that the line end
// still fits. Returns the line's length without NUL.
size_t FormatLogLine(char* out, size_t cap, const char* stamp, const char* host,
                     const char* text);

} // namespace fsp
