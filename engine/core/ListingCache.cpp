#include "ListingCache.h"

#include <cstring>

namespace fsp {

void EntryList::Add(const DirEntry& e) {
    entries.push_back({e.isDir, e.unixTime, e.size, names.size()});
    names.append(e.name);
    names.push_back('\0');
}

int EntryList::LayOut(uint32_t blockSize, std::vector<unsigned char>* stream) const {
    // The first pass measures, the second writes: both run over memory.
    for (int pass = 0; pass < 2; ++pass) {
        uint32_t capacity = pass == 0 ? 0xFFFFFFFFu : uint32_t(stream->size());
        ListingWriter writer(pass == 0 ? nullptr : stream->data(), capacity, blockSize, 0);
        for (const Stored& s : entries) {
            DirEntry e;
            e.isDir = s.isDir;
            e.unixTime = s.unixTime;
            e.size = s.size;
            e.name = names.data() + s.name;
            if (writer.Add(e) < 0) return -1;
        }
        if (writer.Finish() < 0) return -1;
        if (pass == 0) {
            if (writer.Length() > 0xFFFFFFFFu) return -1; // positions are 32-bit
            stream->assign(size_t(writer.Length()), 0);
        }
    }
    return 1;
}

ListingCache::ListingCache(size_t maxBytes_, size_t maxListings_)
    : maxBytes(maxBytes_), maxListings(maxListings_) {}

std::list<ListingCache::Listing>::iterator ListingCache::Lookup(const unsigned char client[6],
                                                                const std::string& dir,
                                                                uint32_t blockSize) {
    for (auto it = listings.begin(); it != listings.end(); ++it)
        if (it->blockSize == blockSize && std::memcmp(it->client, client, 6) == 0 && it->dir == dir)
            return it;
    return listings.end();
}

void ListingCache::Store(const unsigned char client[6], const std::string& dir, uint32_t blockSize,
                         std::vector<unsigned char>&& stream) {
    auto old = Lookup(client, dir, blockSize);
    if (old != listings.end()) {
        bytes -= old->stream.size();
        listings.erase(old);
    }
    if (stream.size() > maxBytes || maxListings == 0) return;
    while (!listings.empty() && (bytes + stream.size() > maxBytes || listings.size() >= maxListings)) {
        bytes -= listings.back().stream.size();
        listings.pop_back();
    }
    Listing l;
    std::memcpy(l.client, client, 6);
    l.dir = dir;
    l.blockSize = blockSize;
    l.stream = std::move(stream);
    bytes += l.stream.size();
    listings.push_front(std::move(l));
}

const std::vector<unsigned char>* ListingCache::Find(const unsigned char client[6],
                                                     const std::string& dir, uint32_t blockSize) {
    auto it = Lookup(client, dir, blockSize);
    if (it == listings.end()) return nullptr;
    listings.splice(listings.begin(), listings, it);
    return &listings.front().stream;
}

int SliceListing(const std::vector<unsigned char>& stream, uint32_t blockSize, uint32_t position,
                 unsigned char* block) {
    if (position >= stream.size()) return 0;
    size_t n = stream.size() - position;
    uint32_t b = (blockSize > kMaxBlock ? kMaxBlock : blockSize) & ~3u;
    if (n > b) n = b;
    std::memcpy(block, stream.data() + position, n);
    return int(n);
}

} // namespace fsp
