#include "NameCache.h"

#include <iterator>

namespace fsp {

void NameCache::Prune(uint64_t now) {
    for (auto it = entries.begin(); it != entries.end();) {
        const Entry& e = it->second;
        bool stale = e.state == Waiting ? now - e.at >= kRetryMs : now - e.at >= kKeepMs;
        if (stale && e.state == Waiting) --asking;
        it = stale ? entries.erase(it) : std::next(it);
    }
}

NameCache::State NameCache::Lookup(uint32_t address, uint64_t now) {
    auto it = entries.find(address);
    if (it != entries.end()) {
        Entry& e = it->second;
        if (e.state == Waiting && now - e.at < kRetryMs) return Waiting;
        if (e.state != Waiting && now - e.at < kKeepMs) return e.state;
        if (e.state == Waiting) --asking;
        entries.erase(it);
    }
    if (asking >= kMaxAsking) return Busy;
    if (entries.size() >= kMaxEntries) {
        Prune(now);
        if (entries.size() >= kMaxEntries) return Busy;
    }
    entries[address] = Entry{Waiting, now};
    ++asking;
    return Ask;
}

void NameCache::Answer(uint32_t address, bool named, uint64_t now) {
    auto it = entries.find(address);
    // Only questions still open are answered: what was forgotten meanwhile
    // is asked again when it matters.
    if (it == entries.end() || it->second.state != Waiting) return;
    --asking;
    it->second = Entry{named ? Named : Unnamed, now};
}

} // namespace fsp
