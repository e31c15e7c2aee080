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
// end marker of 12 zero bytes. A request's position is an offset in this
// stream, and its reply is the stream's bytes from there, at most B of them.
// A client that asks for position 0 and then for the sum of the lengths it
// has received reassembles the stream exactly, and a reader that jumps to
// the next multiple of B at a skip marker sees every entry once.
//
// Placement keeps the skip marker readable: an entry goes into a block only
// if it fills the block exactly or leaves at least 12 bytes, so a block is
// never left with a tail of 4 or 8 bytes, which is too short for a marker
// and would have the reader take the next block's bytes for an entry type.
#pragma once

#include <cstdint>

#include "Packet.h"

namespace fsp {

constexpr int kEntryHeader = 9;     // time, size, type
constexpr int kMarkerSize = 12;     // skip and end markers
constexpr int kMaxName = 259;       // the platform's longest name
constexpr int kMaxEntry = 272;      // the entry of a kMaxName-character name
constexpr uint32_t kMaxBlock = 1024; // the most a reply carries
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

// The block size a request asks for: the first two bytes of its extra data
// in network byte order, at most kMaxBlock. No preference (fewer than two
// bytes of extra data) and a preference of 0 both give kMaxBlock.
uint32_t RequestBlockSize(const RequestRecord& rec);

// Lays out a listing and copies one window of its stream, the bytes
// [start, start + capacity), into out. Entries are fed in enumeration
// order; the writer keeps only a few counters, so the enumeration may be
// dropped as soon as Add returns 0, and a listing can be laid out whole
// (start 0 and a capacity for all of it) as easily as one reply.
class ListingWriter {
public:
    // blockSize is rounded down to a multiple of 4. The synthetic "." and
    // ".." entries are laid out here. A null out only measures: Length()
    // after Finish is the stream's length.
    ListingWriter(unsigned char* out, uint32_t capacity, uint32_t blockSize, uint32_t start);

    // Feeds the next enumerated entry. Returns 1 to go on, 0 when the window
    // is complete (further entries change nothing), or -1 when the block
    // size is too small for some entry. A block too small for the longest
    // possible entry cannot stop early: every entry is checked, so that a
    // listing is refused from its first block on, not partway through.
    int Add(const DirEntry& e);

    // Ends the listing after the last entry (or after Add returned 0).
    // Returns the number of bytes written to out, or -1 when the block size
    // is too small for the listing.
    int Finish();

    // The length of the whole stream; meaningful after Finish.
    uint64_t Length() const { return offset; }

private:
    int Place(const unsigned char* bytes, uint32_t n);
    void Emit(const unsigned char* bytes, uint64_t n);
    bool WindowDone() const { return offset >= start + capacity; }

    unsigned char* out;
    uint64_t capacity;
    uint64_t start;
    uint32_t block;
    uint64_t offset = 0;     // stream offset of the next byte
    uint64_t blockStart = 0; // stream offset of the current block
    bool tooSmall = false;
    bool finished = false;
};

// Pulls the next entry of an enumeration into e: 1, or 0 at its end.
using NextEntry = int (*)(void* context, DirEntry* e);

// The reply block for position (block holds kMaxBlock bytes; a larger
// blockSize is taken as kMaxBlock): at most blockSize bytes of the listing
// laid out for blockSize, taken from next. Returns its length, or -1 when
// the block size is too small for the listing.
int BuildBlock(unsigned char* block, uint32_t blockSize, uint32_t position, NextEntry next,
               void* context);

// The request's data as text for a message: up to its NUL, or all of its
// bytes when it has none. Always NUL-terminated in out (cap bytes).
const char* RequestPathText(const RequestRecord& rec, char* out, int cap);

} // namespace fsp
