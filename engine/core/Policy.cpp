#include "Policy.h"

namespace fsp {

const char kVersionText[] = "VrelFSPd for Win95 v1.0b3 Dec 18 1995";
static_assert(sizeof(kVersionText) == kVersionTextSize, "version text is 38 bytes with NUL");

const CommandPolicy* FindPolicy(uint8_t code) {
    for (const CommandPolicy& p : kPolicy)
        if (p.code == code) return &p;
    return nullptr;
}

int Allowed(Access access, int uploadOnly, int readWrite) {
    switch (access) {
    case Access::Always: return 1;
    case Access::Upload: return (uploadOnly || readWrite) ? 1 : 0;
    case Access::ReadWrite: return readWrite ? 1 : 0;
    case Access::Never: return 0;
    }
    return 0;
}

uint8_t ServerFlagByte(int logging, int uploadOnly, int readWrite, int revName, int privMode,
                       int thruOut) {
    uint8_t b = 0;
    if (logging) b |= 0x01;
    if (!uploadOnly && !readWrite) b |= 0x02;
    if (revName) b |= 0x04;
    if (privMode) b |= 0x08;
    if (thruOut) b |= 0x10;
    return b;
}

int VersionExtras(unsigned char* out, uint8_t flags, uint32_t thruput, uint16_t packetSize) {
    int n = 0;
    out[n++] = flags;
    if (thruput) {
        PutU32(out + n, thruput);
        n += 4;
    }
    if (packetSize) {
        PutU16(out + n, packetSize);
        n += 2;
    }
    return n;
}

uint8_t ProtectionByte(int uploadOnly, int readWrite) {
    uint8_t b = 0x20;
    if (uploadOnly) b |= 0x04;
    if (readWrite) b |= 0x0E;
    return b;
}

} // namespace fsp
