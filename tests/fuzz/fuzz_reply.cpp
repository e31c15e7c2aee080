// Any lengths and payload: a reply is either refused or fits one datagram,
// carries what it was given, and checks out with the reply checksum.
#include <cstdint>
#include <cstring>

#include "FuzzCheck.h"
#include "engine/core/Packet.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size) {
    if (size < 12) return 0;
    int dataLength = int(int16_t(fsp::GetU16(bytes)));   // may be negative
    int extraLength = int(int16_t(fsp::GetU16(bytes + 2)));
    uint32_t key = fsp::GetU16(bytes + 4) + 1u;
    uint32_t position = fsp::GetU32(bytes + 6);
    uint8_t command = bytes[10];
    const uint8_t* payload = bytes + 12;
    size_t have = size - 12;
    // Lengths name at most the bytes the fuzzer gave.
    if (dataLength > 0 && size_t(dataLength) > have) dataLength = int(have);
    if (extraLength > 0 && size_t(extraLength) > have) extraLength = int(have);

    unsigned char out[fsp::kMaxPacket];
    int t = fsp::BuildReply(out, command, key, 7, position, payload, dataLength, payload,
                            extraLength);
    bool fits = dataLength >= 0 && extraLength >= 0 &&
                dataLength + extraLength + fsp::kHeaderSize <= fsp::kMaxPacket;
    FUZZ_CHECK((t != 0) == fits);
    if (!t) return 0;
    FUZZ_CHECK(t == dataLength + extraLength + fsp::kHeaderSize);
    FUZZ_CHECK(out[0] == command);
    FUZZ_CHECK(fsp::GetU16(out + 2) == (key & 0xFFFF));
    FUZZ_CHECK(fsp::GetU16(out + 6) == uint32_t(dataLength));
    FUZZ_CHECK(fsp::GetU32(out + 8) == position);
    FUZZ_CHECK(std::memcmp(out + 12, payload, size_t(dataLength)) == 0);
    FUZZ_CHECK(std::memcmp(out + 12 + dataLength, payload, size_t(extraLength)) == 0);
    FUZZ_CHECK(fsp::CalcChecksum(out, t, 1) == out[1]);
    return 0;
}
