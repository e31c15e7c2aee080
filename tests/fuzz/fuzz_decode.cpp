// Any datagram: decoding stays inside the bytes received, and a request it
// accepts describes exactly those bytes.
#include <cstdint>
#include <cstring>

#include "FuzzCheck.h"
#include "engine/core/Packet.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size) {
    // A datagram lands in a receive buffer that is not cleared between
    // datagrams: fill the rest with non-NUL bytes so a read past the
    // datagram would be seen.
    unsigned char packet[fsp::kMaxRequestPacket + 64];
    std::memset(packet, 'X', sizeof(packet));
    int n = int(size < sizeof(packet) ? size : sizeof(packet));
    std::memcpy(packet, bytes, size_t(n));

    static fsp::RequestRecord r;
    if (fsp::DecodeTooLong(packet, n, &r)) FUZZ_CHECK(n > fsp::kMaxRequestPacket);
    if (!fsp::DecodeRequest(packet, n, &r)) return 0;
    FUZZ_CHECK(n >= fsp::kHeaderSize);
    FUZZ_CHECK(r.extraLength >= 0);
    FUZZ_CHECK(int(r.dataLength) + r.extraLength + fsp::kHeaderSize == n);
    FUZZ_CHECK((r.data != nullptr) == (r.dataLength != 0));
    FUZZ_CHECK((r.extraData != nullptr) == (r.extraLength != 0));
    if (r.data) FUZZ_CHECK(r.data == packet + fsp::kHeaderSize);
    if (r.extraData) FUZZ_CHECK(r.extraData == packet + fsp::kHeaderSize + r.dataLength);
    FUZZ_CHECK(fsp::CalcChecksum(packet, n, 0) == packet[1]);

    if (const char* text = fsp::RequestText(r)) {
        size_t len = std::strlen(text); // must stop inside the data
        if (r.data) FUZZ_CHECK(len < r.dataLength);
        else FUZZ_CHECK(len == 0);
        FUZZ_CHECK(!std::strchr(text, '\n')); // a password after a newline is no part of it
    }
    return 0;
}
