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
    // No line break of any reader: no control, no NEL as a Latin-1 byte or
    // as the C1 control U+0085, no U+2028 or U+2029.
    for (size_t i = 0; i < n; ++i) {
        unsigned char c = static_cast<unsigned char>(safe[i]);
        FUZZ_CHECK(c >= 0x20 && c != 0x7F && c != 0x85);
        FUZZ_CHECK(c != 0xC2 || static_cast<unsigned char>(safe[i + 1]) >= 0xA0);
    }
    FUZZ_CHECK(!std::strstr(safe, "\xE2\x80\xA8") && !std::strstr(safe, "\xE2\x80\xA9"));
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
