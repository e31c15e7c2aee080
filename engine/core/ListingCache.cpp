#include "ListingCache.h"

#include <utility>

namespace fsp {

ListingCache::ListingCache(size_t maxBytes_, size_t maxListings_)
    : maxBytes(maxBytes_), maxListings(maxListings_) {}

ListingCache::Listing* ListingCache::Find(const std::string& dir) {
    for (auto it = listings.begin(); it != listings.end(); ++it)
        if (it->dir == dir) {
            listings.splice(listings.begin(), listings, it);
            return &listings.front();
        }
    return nullptr;
}

bool ListingCache::Fresh(const Listing& l, uint64_t now, uint64_t dirTime) {
    return l.dirTime != 0 && dirTime == l.dirTime && now >= l.madeAt && now - l.madeAt < kYoungMs;
}

ListingCache::Listing* ListingCache::Store(const std::string& dir, EntryList&& entries, uint64_t now,
                                           uint64_t dirTime) {
    if (Listing* old = Find(dir)) {
        bytes -= old->bytes;
        listings.pop_front();
    }
    listings.emplace_front();
    Listing& l = listings.front();
    l.dir = dir;
    l.madeAt = now;
    l.dirTime = dirTime;
    l.entries = std::move(entries);
    Account(&l, l.entries.Bytes() + dir.capacity());
    return &l;
}

const Layout* ListingCache::LayoutFor(Listing* l, uint32_t blockSize) {
    for (auto it = l->layouts.begin(); it != l->layouts.end(); ++it)
        if (it->asked == AskedBlock(blockSize)) {
            l->layouts.splice(l->layouts.begin(), l->layouts, it);
            return &l->layouts.front();
        }
    Layout made;
    if (!LayOut(l->entries, blockSize, &made)) return nullptr;
    size_t newBytes = l->bytes + made.stream.capacity();
    l->layouts.push_front(std::move(made));
    if (l->layouts.size() > kLayoutsPerListing) {
        newBytes -= l->layouts.back().stream.capacity();
        l->layouts.pop_back();
    }
    Account(l, newBytes);
    return &l->layouts.front();
}

void ListingCache::Account(Listing* l, size_t newBytes) {
    bytes = bytes - l->bytes + newBytes;
    l->bytes = newBytes;
}

void ListingCache::Trim() {
    while (!listings.empty() && (bytes > maxBytes || listings.size() > maxListings)) {
        bytes -= listings.back().bytes;
        listings.pop_back();
    }
}

} // namespace fsp
