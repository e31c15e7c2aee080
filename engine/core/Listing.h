// Directory listings in FSP's format: the layout of one entry, the time
// conversion, and the assembly of the listing into blocks.
// Platform-free: no Windows header may be included here.
//
// A listing is one stream of bytes, laid out for a block size B (a multiple
// of 4): the entries "." and ".." first, then the directory's entries in
// the order they are enumerated. Each block of B bytes holds whole entries;
// a block that has no room for the next entry is closed by a skip marker
// (an entry header of type 0x2A) and zero bytes up to B, and the next entry
// starts the next block, at the next multiple of B. The stream ends with an
// end marker of 12 zero bytes. A request's position is the start of a block
// in this stream, a multiple of B, and its reply is that block (the last
// one may be shorter). A client that asks for position 0 and then for the
// sum of the lengths it has received reassembles the stream exactly, and a
// reader that jumps to the next multiple of B at a skip marker sees every
// entry once. B is the block size the client prefers unless that is too
// small for an entry of the directory; then it is kMaxPayload.
//
// Placement keeps the skip marker readable: an entry goes into a block only
// if it fills the block exactly or leaves at least 12 bytes, so a block is
// never left with a tail of 4 or 8 bytes, which is too short for a marker
// and would have the reader take the next block's bytes for an entry type.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "Request.h"

namespace fsp {

constexpr int kEntryHeader = 9;     // time, size, type
constexpr int kMarkerSize = 12;     // skip and end markers
constexpr int kMaxName = 259;       // the platform's longest name
constexpr int kMaxEntry = 272;      // the entry of a kMaxName-character name
// With blocks of at least this size every entry fits.
constexpr uint32_t kAnyEntryBlock = kMaxEntry + kMarkerSize;

enum EntryType : uint8_t {
    kTypeEnd = 0x00,
    kTypeFile = 0x01,
    kTypeDir = 0x02,
    kTypeSkip = 0x2A, // no further entries in this block
};

// The size of an entry whose name with its NUL takes n bytes:
// 9 + n rounded up to a multiple of 4.
int PacketSize(int n);

// Seconds since 1970-01-01 00:00:00 UTC of a platform file time (100 ns
// intervals since 1601-01-01, as a low and a high 32-bit half), truncated
// to whole seconds and kept to its low 32 bits, as the listing carries it.
uint32_t FileTimeToUnixTime(uint32_t low, uint32_t high);
// The platform file time of seconds since 1970, as one 64-bit count.
uint64_t UnixTimeToFileTime(uint32_t unixTime);

// One enumerated directory entry.
struct DirEntry {
    bool isDir = false;
    uint32_t unixTime = 0; // last write, seconds since 1970
    uint32_t size = 0;     // low 32 bits; not sent for a directory
    const char* name = ""; // NUL-terminated
};

// Lays out e in area (kMaxEntry bytes, all of which are written): time and
// size in network byte order, the type, the name with its NUL, zero
// padding. Returns the entry's size, or 0 for an entry that is not listed
// (the area is then zero): a name that is empty, begins with '.', or is
// longer than kMaxName.
int MakeEntry(unsigned char* area, const DirEntry& e);

// The entries of one enumeration, in its order, names kept in one arena.
// Entries that are not listed are dropped as they come.
class EntryList {
public:
    void Add(const DirEntry& e);
    size_t Count() const { return entries.size(); }
    // Memory held, for the bounds of kept listings.
    size_t Bytes() const { return entries.capacity() * sizeof(Stored) + names.capacity(); }
    DirEntry At(size_t i) const;

private:
    struct Stored {
        uint32_t unixTime;
        uint32_t size;
        uint32_t name; // offset in names
        bool isDir;
    };
    std::vector<Stored> entries;
    std::string names;
};

// A whole listing laid out for one block size: the bytes every reply is
// cut from.
struct Layout {
    uint32_t asked = 0; // AskedBlock of the client's block size
    uint32_t block = 0; // the block size laid out: asked, or kMaxPayload
                        // when that is too small for some entry
    std::vector<unsigned char> stream;
};

// A client's block size as a layout takes it: at most kMaxReplyPayload
// (the caller has kept it to the packet size), rounded down to a multiple
// of 4 so that every entry stays aligned.
inline uint32_t AskedBlock(uint32_t blockSize) {
    return blockSize > kMaxReplyPayload ? kMaxReplyPayload : blockSize & ~3u;
}

// Lays entries out for AskedBlock(blockSize). A block size too small for
// an entry gives kMaxPayload blocks instead: clients read on from the sum of
// the lengths they receive, so they follow either.
// Returns 1, or 0 when the listing would pass the 32-bit positions.
int LayOut(const EntryList& entries, uint32_t blockSize, Layout* out);

// The reply for position: the layout's bytes from there, at most one block,
// copied into block (room for layout.block bytes). Returns their number (0 at or past
// the end), or -1 for a position inside the listing that is not a multiple
// of the block size laid out, which would start the reply inside an entry.
int SliceListing(const Layout& layout, uint32_t position, unsigned char* block);

} // namespace fsp
