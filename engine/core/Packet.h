// FSP datagram codec: header layout, the two checksum variants, decoding a
// received datagram into the request record and laying out a reply.
// Platform-free: no Windows header may be included here.
#pragma once

#include <cstddef>
#include <cstdint>

#include "Request.h"

namespace fsp {

constexpr int kHeaderSize = 12;
constexpr int kMaxPacket = kHeaderSize + int(kMaxReplyPayload); // the largest reply
constexpr int kMaxRequestPacket = kHeaderSize + int(kMaxRequestPayload); // the largest request

// Command codes of the published FSP protocol.
enum Command : uint8_t {
    CC_VERSION = 0x10,
    CC_ERR = 0x40,
    CC_GET_DIR = 0x41,
    CC_GET_FILE = 0x42,
    CC_UP_LOAD = 0x43,
    CC_INSTALL = 0x44,
    CC_DEL_FILE = 0x45,
    CC_DEL_DIR = 0x46,
    CC_GET_PRO = 0x47,
    CC_SET_PRO = 0x48,
    CC_MAKE_DIR = 0x49,
    CC_BYE = 0x4A,
    CC_GRAB_FILE = 0x4B,
    CC_GRAB_DONE = 0x4C,
    CC_STAT = 0x4D,
    CC_RENAME = 0x4E,
};

// Checksum of n bytes with byte 1 left out. outgoing = 0 checks a request
// (its length counts), 1 stamps a reply. The low 8 bits are the checksum.
int CalcChecksum(const unsigned char* packet, int n, int outgoing);

// Decodes n received bytes into rec. Returns 1 for a well-formed request
// with a good checksum of at most kMaxRequestPacket bytes; 0 for one not to
// serve: shorter than a header, a data length running past the bytes
// received, a wrong checksum, or too long. On 0, rec may be partly
// rewritten and must not be served.
int DecodeRequest(unsigned char* packet, int n, RequestRecord* rec);
// Whether n received bytes are a request longer than kMaxRequestPacket that
// is otherwise well-formed, with a good checksum over all of its bytes:
// such a request is answered with an error, not served. On 1, rec holds
// the header (command, key, sequence, position) and no data.
int DecodeTooLong(unsigned char* packet, int n, RequestRecord* rec);

// Lays out a reply in out (kMaxPacket bytes) and returns its size, or 0
// when data and extra data do not fit (nothing is written then).
// `data` may point into `out` itself (memmove semantics).
int BuildReply(unsigned char* out, uint8_t command, uint32_t key, uint32_t sequence,
               uint32_t position, const unsigned char* data, int dataLength,
               const unsigned char* extraData, int extraLength);

// Big-endian helpers.
inline uint16_t GetU16(const unsigned char* p) { return uint16_t((p[0] << 8) | p[1]); }
inline uint32_t GetU32(const unsigned char* p) {
    return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | p[3];
}
inline void PutU16(unsigned char* p, uint32_t v) {
    p[0] = uint8_t(v >> 8);
    p[1] = uint8_t(v);
}
inline void PutU32(unsigned char* p, uint32_t v) {
    p[0] = uint8_t(v >> 24);
    p[1] = uint8_t(v >> 16);
    p[2] = uint8_t(v >> 8);
    p[3] = uint8_t(v);
}

} // namespace fsp
