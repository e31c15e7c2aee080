// Laid-out listings kept between the blocks of one client's read, so that
// a whole listing costs one enumeration instead of one per block.
// Platform-free.
#pragma once

#include <cstddef>
#include <cstdint>
#include <list>
#include <string>
#include <vector>

#include "Listing.h"

namespace fsp {

// The entries of one enumeration, names kept in one arena.
class EntryList {
public:
    void Add(const DirEntry& e);
    size_t Count() const { return entries.size(); }
    // Lays the whole listing out for blockSize into stream. Returns 1, or
    // -1 when the block size is too small for the listing.
    int LayOut(uint32_t blockSize, std::vector<unsigned char>* stream) const;

private:
    struct Stored {
        bool isDir;
        uint32_t unixTime;
        uint32_t size;
        size_t name; // offset in names
    };
    std::vector<Stored> entries;
    std::string names;
};

// A bounded set of laid-out listings, keyed by client (port and IPv4
// address, as they stand in the socket address), local directory and
// block size. The least recently used listing goes first when a new one
// would exceed either bound.
class ListingCache {
public:
    ListingCache(size_t maxBytes, size_t maxListings);

    // Keeps stream as the listing of dir for client at blockSize,
    // replacing any earlier one of the same key. A listing larger than the
    // whole budget is not kept.
    void Store(const unsigned char client[6], const std::string& dir, uint32_t blockSize,
               std::vector<unsigned char>&& stream);
    // The kept listing, or null.
    const std::vector<unsigned char>* Find(const unsigned char client[6], const std::string& dir,
                                           uint32_t blockSize);

    size_t Bytes() const { return bytes; }
    size_t Count() const { return listings.size(); }

    static constexpr size_t kDefaultBytes = 32u << 20;
    static constexpr size_t kDefaultListings = 64;

private:
    struct Listing {
        unsigned char client[6];
        std::string dir;
        uint32_t blockSize;
        std::vector<unsigned char> stream;
    };
    std::list<Listing>::iterator Lookup(const unsigned char client[6], const std::string& dir,
                                        uint32_t blockSize);
    std::list<Listing> listings; // most recently used first
    size_t bytes = 0;
    size_t maxBytes;
    size_t maxListings;
};

// The reply for position from a laid-out listing: at most blockSize bytes
// of it from there. Returns the length copied into block.
int SliceListing(const std::vector<unsigned char>& stream, uint32_t blockSize, uint32_t position,
                 unsigned char* block);

} // namespace fsp
