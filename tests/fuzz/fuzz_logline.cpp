// Any client text: the escaped line is one line to every reader, within
// its buffer, and reads back as the text it came from (every "\x" is a
// whole escape, also where the line is cut).
#include <cctype>
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
    // No line break of any reader: no control, no NEL as a Latin-1 byte or
    // as the C1 control U+0085, no U+2028 or U+2029.
    for (size_t i = 0; i < n; ++i) {
        unsigned char c = static_cast<unsigned char>(safe[i]);
        FUZZ_CHECK(c >= 0x20 && c != 0x7F && c != 0x85);
        FUZZ_CHECK(c != 0xC2 || static_cast<unsigned char>(safe[i + 1]) >= 0xA0);
    }
    FUZZ_CHECK(!std::strstr(safe, "\xE2\x80\xA8") && !std::strstr(safe, "\xE2\x80\xA9"));
    std::string back; // every "\x" is an escape: decoded, the text it came from
    for (size_t i = 0; i < n; ++i) {
        bool escape = safe[i] == '\\' && safe[i + 1] == 'x';
        if (escape) FUZZ_CHECK(std::isxdigit(uint8_t(safe[i + 2])) && std::isxdigit(uint8_t(safe[i + 3])));
        back += escape ? char(std::strtol(std::string(safe + i + 2, 2).c_str(), nullptr, 16)) : safe[i];
        if (escape) i += 3;
    }
    FUZZ_CHECK(text.compare(0, back.size(), back) == 0);
    for (size_t cap : {fsp::kAddressLineSize, fsp::kPlainLineSize}) {
        std::string line(cap, '\0');
        size_t len = fsp::FormatLogLine(&line[0], cap, "Thu Jan 04 09:05:00 1996",
                                        cap == fsp::kAddressLineSize ? "127.0.0.1" : nullptr, safe);
        FUZZ_CHECK(len < cap);
        FUZZ_CHECK(len >= 2 && line.compare(len - 2, 2, "\r\n") == 0);
        FUZZ_CHECK(line.substr(0, len - 2).find_first_of("\r\n") == std::string::npos);
        size_t escape = line.rfind("\\x", len - 2); // a cut line ends no escape
        FUZZ_CHECK(escape == std::string::npos || escape + 4 <= len - 2);
    }
    return 0;
}
