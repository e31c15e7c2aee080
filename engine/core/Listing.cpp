#include "Listing.h"

#include <cstring>

#include "Packet.h"

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

// The length of a listed name: -1 for one that is empty, begins with '.'
// or is longer than kMaxName.
int ListedLength(const char* name) {
    if (!name) return -1;
    const void* nul = std::memchr(name, 0, kMaxName + 1);
    if (!nul || name[0] == '\0' || name[0] == '.') return -1;
    return int(static_cast<const char*>(nul) - name);
}
} // namespace

int PacketSize(int n) { return (kEntryHeader + n + 3) & ~3; }

uint32_t FileTimeToUnixTime(uint32_t low, uint32_t high) {
    uint64_t seconds = ((uint64_t(high) << 32) | low) / kTicksPerSecond;
    // Before 1970 this wraps, as any 32-bit time does.
    return uint32_t(seconds - kEpochDelta);
}

uint64_t UnixTimeToFileTime(uint32_t unixTime) { return (unixTime + kEpochDelta) * kTicksPerSecond; }

int MakeEntry(unsigned char* area, const DirEntry& e) {
    std::memset(area, 0, kMaxEntry);
    const char* name = e.name;
    int length = ListedLength(name);
    if (length < 0) return 0;
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

namespace {
// Places entries into blocks of one size. With a null out it only counts,
// so that the stream can be sized before it is written.
class Writer {
public:
    Writer(unsigned char* out_, uint32_t block_) : out(out_), block(block_) {
        unsigned char area[kMarkerSize];
        MakeSynthetic(area, ".");
        Place(area, kMarkerSize);
        MakeSynthetic(area, "..");
        Place(area, kMarkerSize);
    }

    // Places n bytes of entry; 0 when the block size is too small for it.
    int Place(const unsigned char* bytes, uint32_t n) {
        if (tooSmall) return 0;
        uint64_t used = offset - blockStart;
        if (used + n != block && used + n + kMarkerSize > block) {
            if (used == 0) {
                // Even an empty block has no room for it.
                tooSmall = true;
                return 0;
            }
            // Close the block: the skip marker, then zeros up to its end.
            // The placement rule left at least 12 bytes for the marker.
            unsigned char marker[kMarkerSize] = {};
            marker[8] = kTypeSkip;
            Emit(marker, kMarkerSize);
            Emit(nullptr, block - used - kMarkerSize);
            blockStart = offset;
            return Place(bytes, n);
        }
        Emit(bytes, n);
        if (offset - blockStart == block) blockStart = offset;
        return 1;
    }

    // The end marker: after an exactly full block it starts the next one;
    // otherwise the placement rule left room for it.
    void End() { Emit(nullptr, kMarkerSize); }

    bool TooSmall() const { return tooSmall; }
    uint64_t Length() const { return offset; }

private:
    void Emit(const unsigned char* bytes, uint64_t n) {
        if (out) {
            if (bytes) std::memcpy(out + offset, bytes, size_t(n));
            else std::memset(out + offset, 0, size_t(n));
        }
        offset += n;
    }

    unsigned char* out;
    uint32_t block;
    uint64_t offset = 0;     // of the next byte
    uint64_t blockStart = 0; // of the current block
    bool tooSmall = false;
};

// Runs the entries through w; false when the block size is too small.
bool Write(const EntryList& entries, Writer* w) {
    unsigned char area[kMaxEntry];
    for (size_t i = 0; i < entries.Count(); ++i) {
        int s = MakeEntry(area, entries.At(i));
        if (s && !w->Place(area, uint32_t(s))) return false;
    }
    w->End();
    return !w->TooSmall();
}
} // namespace

void EntryList::Add(const DirEntry& e) {
    if (ListedLength(e.name) < 0) return;
    entries.push_back({e.unixTime, e.size, uint32_t(names.size()), e.isDir});
    names.append(e.name);
    names.push_back('\0');
}

DirEntry EntryList::At(size_t i) const {
    DirEntry e;
    e.isDir = entries[i].isDir;
    e.unixTime = entries[i].unixTime;
    e.size = entries[i].size;
    e.name = names.data() + entries[i].name;
    return e;
}

int LayOut(const EntryList& entries, uint32_t blockSize, Layout* out) {
    uint32_t asked = AskedBlock(blockSize);
    for (uint32_t block : {asked, kMaxPayload}) {
        // Count first, so the stream is allocated once and exactly.
        Writer count(nullptr, block);
        if (!Write(entries, &count)) continue;
        if (count.Length() > 0xFFFFFFFFu) return 0; // positions are 32-bit
        out->asked = asked;
        out->block = block;
        out->stream.assign(size_t(count.Length()), 0);
        Writer write(out->stream.data(), block);
        Write(entries, &write);
        return 1;
    }
    return 0;
}

int SliceListing(const Layout& layout, uint32_t position, unsigned char* block) {
    // Clients that take the first block's length for the block size ask
    // for the end of a short listing at that length: past the end is empty.
    if (position >= layout.stream.size()) return 0;
    if (layout.block == 0 || position % layout.block != 0) return -1;
    size_t n = layout.stream.size() - position;
    if (n > layout.block) n = layout.block;
    std::memcpy(block, layout.stream.data() + position, n);
    return int(n);
}

} // namespace fsp
