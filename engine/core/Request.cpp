#include "Request.h"

#include <cstring>

#include "Packet.h"

namespace fsp {

namespace {
size_t ExtraBytes(const RequestRecord& rec) {
    return rec.extraData && rec.extraLength > 0 ? size_t(rec.extraLength) : 0;
}

// The path in the n bytes at p: up to the NUL, cut at a newline before it;
// copied to copy (kMaxRequestPayload bytes) only when cut.
const char* PathIn(const unsigned char* p, size_t n, char* copy) {
    if (!p || n == 0) return "";
    const void* nul = std::memchr(p, 0, n);
    if (!nul) return nullptr;
    size_t len = size_t(static_cast<const unsigned char*>(nul) - p);
    const void* newline = std::memchr(p, '\n', len);
    if (!newline) return reinterpret_cast<const char*>(p);
    len = size_t(static_cast<const unsigned char*>(newline) - p);
    if (len >= kMaxRequestPayload) return nullptr; // more than any request holds
    std::memcpy(copy, p, len);
    copy[len] = '\0';
    return copy;
}

const char* ShownIn(const unsigned char* p, size_t n, char* out, int cap) {
    if (cap <= 0) return out;
    if (n > size_t(cap - 1)) n = size_t(cap - 1);
    for (size_t i = 0; i < n; ++i)
        if (p[i] == 0 || p[i] == '\n') {
            n = i;
            break;
        }
    if (n) std::memcpy(out, p, n);
    out[n] = '\0';
    return out;
}
} // namespace

const char* RequestText(RequestRecord& rec) {
    return PathIn(rec.data, rec.data ? rec.dataLength : 0, rec.pathText);
}

const char* RequestExtraText(RequestRecord& rec) {
    return PathIn(rec.extraData, ExtraBytes(rec), rec.extraPathText);
}

const char* RequestPathText(const RequestRecord& rec, char* out, int cap) {
    return ShownIn(rec.data, rec.data ? rec.dataLength : 0, out, cap);
}

const char* RequestExtraPathText(const RequestRecord& rec, char* out, int cap) {
    return ShownIn(rec.extraData, ExtraBytes(rec), out, cap);
}

uint32_t RequestBlockSize(const RequestRecord& rec, uint32_t limit) {
    uint32_t b = rec.extraData && rec.extraLength >= 2 ? GetU16(rec.extraData) : 0;
    if (b == 0) b = kMaxPayload;
    return b > limit ? limit : b;
}

} // namespace fsp
