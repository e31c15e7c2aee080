#include "Listing.h"

#include <cstring>

namespace fsp {

namespace {
// 100 ns intervals per second, and seconds from 1601-01-01 to 1970-01-01.
constexpr uint64_t kTicksPerSecond = 10000000;
constexpr uint64_t kEpochDelta = 11644473600;

void MakeSynthetic(unsigned char* area, const char* name) {
    std::memset(area, 0, kMarkerSize);
    area[8] = kTypeDir;
    std::memcpy(area + kEntryHeader, name, std::strlen(name)); // NUL and padding stay 0
}
} // namespace

int PacketSize(int n) { return (kEntryHeader + n + 3) & ~3; }

uint32_t FileTimeToUnixTime(uint32_t low, uint32_t high) {
    uint64_t seconds = ((uint64_t(high) << 32) | low) / kTicksPerSecond;
    // Before 1970 this wraps, as any 32-bit time does.
    return uint32_t(seconds - kEpochDelta);
}

int MakeEntry(unsigned char* area, const DirEntry& e) {
    std::memset(area, 0, kMaxEntry);
    const char* name = e.name ? e.name : "";
    const void* nul = std::memchr(name, 0, kMaxName + 1);
    if (!nul || name[0] == '\0' || name[0] == '.') return 0;
    int length = int(static_cast<const char*>(nul) - name);
    PutU32(area, e.unixTime);
    if (e.isDir) {
        area[8] = kTypeDir;
    } else {
        PutU32(area + 4, e.size);
        area[8] = kTypeFile;
    }
    std::memcpy(area + kEntryHeader, name, size_t(length) + 1);
    return PacketSize(length + 1);
}

uint32_t RequestBlockSize(const RequestRecord& rec) {
    if (!rec.extraData || rec.extraLength < 2) return kMaxBlock;
    uint32_t b = GetU16(rec.extraData);
    return (b == 0 || b > kMaxBlock) ? kMaxBlock : b;
}

ListingWriter::ListingWriter(unsigned char* out_, uint32_t capacity_, uint32_t blockSize,
                             uint32_t start_)
    : out(out_), capacity(capacity_), start(start_), block(blockSize & ~3u) {
    unsigned char area[kMarkerSize];
    MakeSynthetic(area, ".");
    Place(area, kMarkerSize);
    MakeSynthetic(area, "..");
    Place(area, kMarkerSize);
}

void ListingWriter::Emit(const unsigned char* bytes, uint64_t n) {
    // Copy the part of [offset, offset + n) that lies in the window.
    uint64_t end = start + capacity;
    uint64_t from = offset > start ? offset : start;
    uint64_t to = offset + n < end ? offset + n : end;
    if (from < to && out) { // no buffer: measuring only
        unsigned char* dst = out + (from - start);
        size_t count = size_t(to - from);
        if (bytes) std::memcpy(dst, bytes + (from - offset), count);
        else std::memset(dst, 0, count);
    }
    offset += n;
}

int ListingWriter::Place(const unsigned char* bytes, uint32_t n) {
    if (tooSmall) return -1;
    for (;;) {
        uint64_t used = offset - blockStart;
        if (used + n == block || used + n + kMarkerSize <= block) {
            Emit(bytes, n);
            if (offset - blockStart == block) blockStart = offset;
            return 1;
        }
        if (used == 0) {
            // Even an empty block has no room for it.
            tooSmall = true;
            return -1;
        }
        // Close the block: the skip marker, then zeros up to its end. The
        // placement rule leaves at least 12 bytes for the marker.
        unsigned char marker[kMarkerSize] = {};
        marker[8] = kTypeSkip;
        Emit(marker, kMarkerSize);
        Emit(nullptr, block - used - kMarkerSize);
        blockStart = offset;
    }
}

int ListingWriter::Add(const DirEntry& e) {
    if (tooSmall) return -1;
    if (WindowDone() && block >= kAnyEntryBlock) return 0;
    unsigned char area[kMaxEntry];
    int s = MakeEntry(area, e);
    if (s == 0) return 1;
    if (Place(area, uint32_t(s)) < 0) return -1;
    return (WindowDone() && block >= kAnyEntryBlock) ? 0 : 1;
}

int ListingWriter::Finish() {
    if (!finished && !tooSmall) {
        finished = true;
        // After an exactly full block the marker starts the next one;
        // otherwise the placement rule left room for it.
        Emit(nullptr, kMarkerSize);
    }
    if (tooSmall) return -1;
    uint64_t end = offset < start + capacity ? offset : start + capacity;
    return end > start ? int(end - start) : 0;
}

int BuildBlock(unsigned char* blockOut, uint32_t blockSize, uint32_t position, NextEntry next,
               void* context) {
    // The block buffer holds one reply's data, never more.
    if (blockSize > kMaxBlock) blockSize = kMaxBlock;
    ListingWriter writer(blockOut, blockSize & ~3u, blockSize, position);
    DirEntry e;
    int r = 1;
    while (r == 1 && next(context, &e)) r = writer.Add(e);
    if (r < 0) return -1;
    return writer.Finish();
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

} // namespace fsp
