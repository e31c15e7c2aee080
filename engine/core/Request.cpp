#include "Request.h"

#include <cstring>

#include "Packet.h"

namespace fsp {

const char* RequestText(const RequestRecord& rec) {
    if (!rec.data || rec.dataLength == 0) return "";
    if (!std::memchr(rec.data, 0, rec.dataLength)) return nullptr;
    return reinterpret_cast<const char*>(rec.data);
}

const char* RequestPathText(const RequestRecord& rec, char* out, int cap) {
    if (cap <= 0) return out;
    size_t n = rec.data ? rec.dataLength : 0;
    if (n > size_t(cap - 1)) n = size_t(cap - 1);
    const void* nul = n ? std::memchr(rec.data, 0, n) : nullptr;
    if (nul) n = size_t(static_cast<const unsigned char*>(nul) - rec.data);
    if (n) std::memcpy(out, rec.data, n);
    out[n] = '\0';
    return out;
}

uint32_t RequestBlockSize(const RequestRecord& rec) {
    if (!rec.extraData || rec.extraLength < 2) return kMaxPayload;
    uint32_t b = GetU16(rec.extraData);
    return (b == 0 || b > kMaxPayload) ? kMaxPayload : b;
}

} // namespace fsp
