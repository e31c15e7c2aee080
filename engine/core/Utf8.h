// The one judgement of UTF-8, the form names travel in. Platform-free.
#pragma once

#include <cstddef>
#include <cstdint>

namespace fsp {

// The length of the character at p (n bytes available), with its code
// point in *cp: 1 for ASCII, 2 to 4 for a well-formed multi-byte character
// (shortest form, no surrogate, nothing past U+10FFFF), 0 for anything else
// (a continuation byte, a lead byte never used, a character cut short).
size_t Utf8Length(const unsigned char* p, size_t n, uint32_t* cp);

// Whether the n bytes at text are well-formed UTF-8.
int IsUtf8(const unsigned char* text, size_t n);

} // namespace fsp
