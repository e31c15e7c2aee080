#include "LogText.h"

#include <cstdint>
#include <cstring>

#include "Utf8.h"

namespace fsp {

namespace {
// The characters that reorder the text around them when shown: a name
// with one in it can read as another name (an .exe as a .txt).
bool Bidirectional(uint32_t cp) {
    return cp == 0x200E || cp == 0x200F || cp == 0x061C || (cp >= 0x202A && cp <= 0x202E) ||
           (cp >= 0x2066 && cp <= 0x2069);
}

// Format characters that show as nothing: a name with one in it reads as
// another name, or two names as one.
bool Invisible(uint32_t cp) {
    return cp == 0x200B || cp == 0xFEFF || cp == 0x2060 || cp == 0x180E || (cp >= 0x206A && cp <= 0x206F) ||
           (cp >= 0xFFF9 && cp <= 0xFFFB) || cp == 0xE0001;
}

// Whether the n bytes at p (one character, next is the byte after it or
// 0) may stand raw in a log line. A backslash before an 'x' would read as
// the start of an escape, so it is escaped itself.
bool Raw(const unsigned char* p, size_t n, uint32_t cp, unsigned char next) {
    if (n == 1) return cp >= 0x20 && cp != 0x7F && !(cp == '\\' && next == 'x');
    return cp >= 0xA0 && cp != 0x2028 && cp != 0x2029 && !Bidirectional(cp) && !Invisible(cp) &&
           !std::memchr(p, 0x85, n);
}

// Where a text may be cut at byte n without splitting a UTF-8 character or
// an escape (\xNN): n, or the start of the character or escape cut.
size_t CutPoint(const char* s, size_t n) {
    for (int k = 0; k < 3 && n > 0 && (static_cast<unsigned char>(s[n]) & 0xC0) == 0x80; ++k) --n;
    for (size_t k = 1; k <= 3 && k <= n; ++k)
        if (s[n - k] == '\\' && s[n - k + 1] == 'x') return n - k;
    return n;
}

size_t Append(char* out, size_t w, size_t limit, const char* s) {
    size_t n = std::strlen(s);
    if (w + n > limit) n = CutPoint(s, limit > w ? limit - w : 0);
    std::memcpy(out + w, s, n);
    return w + n;
}
} // namespace

size_t EscapeControl(const char* text, char* out, size_t cap) {
    static const char hex[] = "0123456789ABCDEF";
    if (cap == 0) return 0;
    size_t w = 0;
    const unsigned char* p = reinterpret_cast<const unsigned char*>(text);
    const unsigned char* end = p + std::strlen(text);
    while (p < end) {
        uint32_t cp = *p;
        size_t n = Utf8Length(p, size_t(end - p), &cp);
        bool raw = n != 0 && Raw(p, n, cp, p + n < end ? p[n] : 0);
        if (n == 0) n = 1; // a byte that starts no character: escaped alone
        if (w + (raw ? n : 4 * n) >= cap) break;
        for (size_t i = 0; i < n; ++i, ++p) {
            if (raw) {
                out[w++] = char(*p);
                continue;
            }
            out[w++] = '\\';
            out[w++] = 'x';
            out[w++] = hex[*p >> 4];
            out[w++] = hex[*p & 15];
        }
    }
    out[w] = '\0';
    return w;
}

size_t FormatLogLine(char* out, size_t cap, const char* stamp, const char* host,
                     const char* text) {
    if (cap < 3) {
        if (cap) out[0] = '\0';
        return 0;
    }
    // Room for CR LF and the NUL is kept back while the body is assembled.
    size_t limit = cap - 3;
    size_t w = Append(out, 0, limit, stamp);
    if (host) {
        w = Append(out, w, limit, " [");
        w = Append(out, w, limit, host);
        w = Append(out, w, limit, "]: ");
    } else {
        w = Append(out, w, limit, " ");
    }
    w = Append(out, w, limit, text);
    if (!std::memchr(out, '\r', w)) {
        out[w++] = '\r';
        out[w++] = '\n';
    }
    out[w] = '\0';
    return w;
}

} // namespace fsp
