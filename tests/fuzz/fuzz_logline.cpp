// Any client text: the escaped line is one line to every reader, within
// its buffer.
#include <cstdint>
#include <cstring>
#include <string>

#include "FuzzCheck.h"
#include "engine/core/LogText.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size) {
    std::string text(reinterpret_cast<const char*>(bytes), size);
    text = text.substr(0, text.find('\0'));
    char safe[fsp::kAddressLineSize];
    size_t n = fsp::EscapeControl(text.c_str(), safe, sizeof(safe));
    FUZZ_CHECK(n < sizeof(safe) && safe[n] == '\0' && std::strlen(safe) == n);
    // Valid UTF-8 of no control, line or paragraph separator, and no byte
    // 0x85 (NEL in Latin-1); decoded here independently of the escaping.
    for (size_t i = 0; i < n;) {
        unsigned char c = static_cast<unsigned char>(safe[i]);
        FUZZ_CHECK(c != 0x85);
        if (c < 0x80) {
            FUZZ_CHECK(c >= 0x20 && c != 0x7F);
            ++i;
            continue;
        }
        size_t len = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : 2;
        FUZZ_CHECK(c >= 0xC2 && c <= 0xF4 && i + len <= n);
        uint32_t cp = c & (0x7Fu >> len);
        for (size_t k = 1; k < len; ++k) {
            unsigned char b = static_cast<unsigned char>(safe[i + k]);
            FUZZ_CHECK((b & 0xC0) == 0x80 && b != 0x85);
            cp = cp << 6 | (b & 0x3Fu);
        }
        FUZZ_CHECK(cp >= (len == 2 ? 0x80u : len == 3 ? 0x800u : 0x10000u) && cp <= 0x10FFFF);
        FUZZ_CHECK(cp >= 0xA0 && cp != 0x2028 && cp != 0x2029 && (cp < 0xD800 || cp > 0xDFFF));
        i += len;
    }
    for (size_t cap : {fsp::kAddressLineSize, fsp::kPlainLineSize}) {
        std::string line(cap, '\0');
        size_t len = fsp::FormatLogLine(&line[0], cap, "Thu Jan 04 09:05:00 1996",
                                        cap == fsp::kAddressLineSize ? "127.0.0.1" : nullptr, safe);
        FUZZ_CHECK(len < cap);
        FUZZ_CHECK(len >= 2 && line.compare(len - 2, 2, "\r\n") == 0);
        FUZZ_CHECK(line.substr(0, len - 2).find_first_of("\r\n") == std::string::npos);
    }
    return 0;
}
