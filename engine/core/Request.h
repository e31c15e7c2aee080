// What a request carries: the request record every handler reads, and the
// texts and sizes taken from it. Platform-free.
#pragma once

#include <cstdint>

namespace fsp {

// The most data and extra data a reply carries, and so the largest block of
// a listing or a file that is sent.
constexpr uint32_t kMaxPayload = 1024;

// The request being served. `data` and `extraData` point into the receive
// buffer and are valid until the next datagram is read.
struct RequestRecord {
    uint8_t command = 0;
    uint32_t key = 0;
    uint32_t sequence = 0;
    uint32_t position = 0;
    uint32_t dataLength = 0;
    int32_t extraLength = 0;
    unsigned char* data = nullptr;
    unsigned char* extraData = nullptr;
};

// The text a path-carrying request sends: the data up to its NUL. A request
// without data sends the empty text. Returns nullptr when the data holds no
// NUL within its dataLength bytes, so nothing past the datagram is read.
const char* RequestText(const RequestRecord& rec);

// The request's data as text for a message or a log line: up to its NUL,
// or all of its bytes when it has none. Always NUL-terminated in out (cap
// bytes).
const char* RequestPathText(const RequestRecord& rec, char* out, int cap);

// The block size a request asks for: the first two bytes of its extra data
// in network byte order, at most kMaxPayload. No preference (fewer than two
// bytes of extra data) and a preference of 0 both give kMaxPayload.
uint32_t RequestBlockSize(const RequestRecord& rec);

} // namespace fsp
