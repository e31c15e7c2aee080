// Listings kept between requests, shared by every client: a directory is
// enumerated once and each block size laid out once, and the blocks of a
// listing are cut from that. Platform-free.
#pragma once

#include <cstddef>
#include <cstdint>
#include <list>
#include <string>

#include "Listing.h"

namespace fsp {

// A bounded set of enumerated directories, keyed by local path, each with
// the layouts made of it for the block sizes asked for. The least recently
// used directory goes first when the bounds are passed.
class ListingCache {
public:
    struct Listing {
        std::string dir;
        uint64_t madeAt = 0;  // milliseconds, when enumerated
        uint64_t dirTime = 0; // the directory's last-write time then; 0: unknown
        EntryList entries;
        std::list<Layout> layouts; // most recently used first
        size_t bytes = 0;
    };

    ListingCache(size_t maxBytes, size_t maxListings);

    // The kept listing of dir, or null.
    Listing* Find(const std::string& dir);
    // Whether l may serve a block of a listing at now: young, and the
    // directory's last-write time is still the one it was made at.
    static bool Fresh(const Listing& l, uint64_t now, uint64_t dirTime);
    // Keeps entries as the listing of dir, replacing any earlier one.
    Listing* Store(const std::string& dir, EntryList&& entries, uint64_t now, uint64_t dirTime);
    // The layout of l for blockSize, made on first use; null when the
    // listing cannot be laid out.
    const Layout* LayoutFor(Listing* l, uint32_t blockSize);
    // Drops the least recently used listings until both bounds hold; one
    // listing over the byte bound on its own is not kept either.
    void Trim();

    size_t Bytes() const { return bytes; }
    size_t Count() const { return listings.size(); }

    static constexpr size_t kDefaultBytes = 32u << 20;
    static constexpr size_t kDefaultListings = 64;
    // How long a listing serves requests.
    static constexpr uint64_t kYoungMs = 1000;
    // Block sizes kept per directory.
    static constexpr size_t kLayoutsPerListing = 4;

private:
    void Account(Listing* l, size_t newBytes);

    std::list<Listing> listings; // most recently used first
    size_t bytes = 0;
    size_t maxBytes;
    size_t maxListings;
};

} // namespace fsp
