// What a request carries: the request record every handler reads, and the
// texts and sizes taken from it. Platform-free.
#pragma once

#include <cstdint>

namespace fsp {

// The standard most data and extra data of a reply: every reply keeps to
// it unless the client asked for bigger blocks.
constexpr uint32_t kMaxPayload = 1024;
// The most data and extra data a request may carry: clients that send
// bigger upload pieces go up to this.
constexpr uint32_t kMaxRequestPayload = 4380;
// The largest block of a file or a listing a reply carries, for a client
// that asks for it and a server whose packet size allows it.
constexpr uint32_t kMaxReplyPayload = 4380;
// The operator's packet size: the most a block may carry when a client
// asks for more than kMaxPayload. One Ethernet frame even over PPPoE.
constexpr uint32_t kDefaultPacketSize = 1452;
constexpr uint32_t kMinPacketSize = kMaxPayload;
constexpr uint32_t kMaxPacketSize = kMaxReplyPayload;
inline bool UsablePacketSize(long long size) { return size >= kMinPacketSize && size <= kMaxPacketSize; }

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
    // Where a path that a password follows is copied to, so that the
    // receive buffer keeps the bytes that arrived (a resend is recognised
    // by them).
    char pathText[kMaxRequestPayload] = {};
    char extraPathText[kMaxRequestPayload] = {};
};

// The path a path-carrying request names: its data up to the NUL, and up to
// a newline before that: a client may append "\n" and a password to any
// path, and this server has no password. A request without data names the
// empty path. Returns nullptr when the data holds no NUL within its
// dataLength bytes, so nothing past the datagram is read.
const char* RequestText(RequestRecord& rec);
// The same of the extra data (the second path of a rename).
const char* RequestExtraText(RequestRecord& rec);

// The request's path as text for a message or a log line: up to its NUL or
// newline, or all of its bytes when it has neither. Never the password.
// Always NUL-terminated in out (cap bytes).
const char* RequestPathText(const RequestRecord& rec, char* out, int cap);
// The same of the extra data.
const char* RequestExtraPathText(const RequestRecord& rec, char* out, int cap);

// The block size a request asks for: the first two bytes of its extra data
// in network byte order, at most limit (the packet size). No preference
// (fewer than two bytes of extra data) and a preference of 0 both give
// kMaxPayload, or limit when that is smaller.
uint32_t RequestBlockSize(const RequestRecord& rec, uint32_t limit = kMaxPayload);

} // namespace fsp
