#include "LogText.h"

#include <cstring>

namespace fsp {

size_t EscapeControl(const char* text, char* out, size_t cap) {
    static const char hex[] = "0123456789ABCDEF";
    if (cap == 0) return 0;
    size_t w = 0;
    for (const unsigned char* p = reinterpret_cast<const unsigned char*>(text); *p; ++p) {
        if (*p < 0x20 || *p == 0x7F) {
            if (w + 4 >= cap) break;
            out[w++] = '\\';
            out[w++] = 'x';
            out[w++] = hex[*p >> 4];
            out[w++] = hex[*p & 15];
        } else {
            if (w + 1 >= cap) break;
            out[w++] = char(*p);
        }
    }
    out[w] = '\0';
    return w;
}

static size_t Append(char* out, size_t w, size_t limit, const char* s) {
    size_t n = std::strlen(s);
    if (w + n > limit) n = limit > w ? limit - w : 0;
    std::memcpy(out + w, s, n);
    return w + n;
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
