#include "Packet.h"

#include <cstring>

namespace fsp {

int CalcChecksum(const unsigned char* packet, int n, int outgoing) {
    if (n <= 0) return 0;
    uint32_t s = packet[0];
    for (int i = 2; i < n; ++i) s += packet[i];
    if (!outgoing) s += uint32_t(n);
    // Folds the carry byte back in, as the protocol asks: the same as
    // (s * 257) >> 8, which would overflow for a datagram of 64 KiB.
    return int((s + (s >> 8)) & 0xFF);
}

namespace {
int Decode(unsigned char* packet, int n, RequestRecord* rec) {
    if (n < kHeaderSize) return 0;
    rec->command = packet[0];
    rec->key = GetU16(packet + 2);
    rec->sequence = GetU16(packet + 4);
    rec->dataLength = GetU16(packet + 6);
    rec->position = GetU32(packet + 8);
    if (rec->dataLength > uint32_t(n - kHeaderSize)) return 0;
    rec->extraLength = int32_t(n - int(rec->dataLength) - kHeaderSize);
    rec->data = rec->dataLength ? packet + kHeaderSize : nullptr;
    rec->extraData = rec->extraLength ? packet + kHeaderSize + rec->dataLength : nullptr;
    return CalcChecksum(packet, n, 0) == packet[1];
}
} // namespace

int DecodeRequest(unsigned char* packet, int n, RequestRecord* rec) {
    return n <= kMaxRequestPacket && Decode(packet, n, rec);
}

int DecodeTooLong(unsigned char* packet, int n, RequestRecord* rec) {
    if (n <= kMaxRequestPacket || !Decode(packet, n, rec)) return 0;
    rec->dataLength = 0;
    rec->extraLength = 0;
    rec->data = rec->extraData = nullptr;
    return 1;
}

int BuildReply(unsigned char* out, uint8_t command, uint32_t key, uint32_t sequence,
               uint32_t position, const unsigned char* data, int dataLength,
               const unsigned char* extraData, int extraLength) {
    // Compared unsigned, so a negative length can never slip through.
    uint64_t total = uint64_t(uint32_t(dataLength)) + uint32_t(extraLength) + kHeaderSize;
    if (total > uint64_t(kMaxPacket)) return 0;
    out[0] = command;
    PutU16(out + 2, key);
    PutU16(out + 4, sequence);
    PutU16(out + 6, uint32_t(dataLength));
    PutU32(out + 8, position);
    if (dataLength) std::memmove(out + kHeaderSize, data, size_t(dataLength));
    if (extraLength) std::memmove(out + kHeaderSize + dataLength, extraData, size_t(extraLength));
    int t = int(total);
    out[1] = uint8_t(CalcChecksum(out, t, 1));
    return t;
}

} // namespace fsp
