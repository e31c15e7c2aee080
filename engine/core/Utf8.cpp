#include "Utf8.h"

namespace fsp {

size_t Utf8Length(const unsigned char* p, size_t n, uint32_t* cp) {
    if (n == 0) return 0;
    if (p[0] < 0x80) {
        *cp = p[0];
        return 1;
    }
    size_t len;
    uint32_t least;
    if (p[0] >= 0xC2 && p[0] <= 0xDF) len = 2, least = 0x80;
    else if (p[0] >= 0xE0 && p[0] <= 0xEF) len = 3, least = 0x800;
    else if (p[0] >= 0xF0 && p[0] <= 0xF4) len = 4, least = 0x10000;
    else return 0;
    if (n < len) return 0;
    uint32_t v = p[0] & (0x7Fu >> len);
    for (size_t i = 1; i < len; ++i) {
        if ((p[i] & 0xC0) != 0x80) return 0;
        v = v << 6 | (p[i] & 0x3Fu);
    }
    if (v < least || v > 0x10FFFF || (v >= 0xD800 && v <= 0xDFFF)) return 0;
    *cp = v;
    return len;
}

int IsUtf8(const unsigned char* s, size_t n) {
    uint32_t cp;
    for (size_t i = 0, len; i < n; i += len)
        if ((len = Utf8Length(s + i, n - i, &cp)) == 0) return 0;
    return 1;
}

} // namespace fsp
