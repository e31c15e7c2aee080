// A bounded table of per-client state, keyed by the client's port and IPv4
// address (the six bytes from sin_port on in a socket address). Anything a
// client sends can add an entry, so the table bounds itself: at most
// maxPerAddress entries for one IPv4 address (any port) and maxTotal in
// all, each forgotten after idleMs without use. When an insert would pass
// a bound, the least recently used entry goes first (of that address, or
// of all), so a flood of new clients cannot starve one that keeps working.
// Platform-free; the caller gives the time, in milliseconds.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <list>

namespace fsp {

constexpr size_t kClientKeySize = 6;

template <typename T>
class ClientTable {
public:
    struct Slot {
        unsigned char client[kClientKeySize];
        uint64_t lastUsed;
        T value;
    };

    ClientTable(size_t maxTotal_, size_t maxPerAddress_, uint64_t idleMs_)
        : maxTotal(maxTotal_), maxPerAddress(maxPerAddress_), idleMs(idleMs_) {}

    // The client's entry, marked as used now; null when there is none.
    T* Find(const unsigned char* client, uint64_t now) {
        for (auto it = slots.begin(); it != slots.end(); ++it)
            if (std::memcmp(it->client, client, kClientKeySize) == 0) {
                it->lastUsed = now;
                slots.splice(slots.begin(), slots, it);
                return &slots.front().value;
            }
        return nullptr;
    }

    // A new entry for a client that has none (see Find), made room for
    // within the bounds; every value pushed out goes to gone(T&) first.
    template <typename Gone>
    T* Insert(const unsigned char* client, uint64_t now, Gone gone) {
        if (maxTotal == 0 || maxPerAddress == 0) return nullptr;
        Expire(now, gone);
        size_t sameAddress = 0;
        auto oldestOfAddress = slots.end();
        for (auto it = slots.begin(); it != slots.end(); ++it)
            if (SameAddress(it->client, client)) {
                ++sameAddress;
                oldestOfAddress = it;
            }
        if (sameAddress >= maxPerAddress) Drop(oldestOfAddress, gone);
        while (slots.size() >= maxTotal) Drop(std::prev(slots.end()), gone);
        slots.emplace_front();
        Slot& s = slots.front();
        std::memcpy(s.client, client, kClientKeySize);
        s.lastUsed = now;
        return &s.value;
    }

    // Forgets the client's entry, if any, handing its value to gone first.
    template <typename Gone>
    void Remove(const unsigned char* client, Gone gone) {
        for (auto it = slots.begin(); it != slots.end(); ++it)
            if (std::memcmp(it->client, client, kClientKeySize) == 0) {
                Drop(it, gone);
                return;
            }
    }

    // Forgets every entry unused for idleMs or longer.
    template <typename Gone>
    void Expire(uint64_t now, Gone gone) {
        while (!slots.empty() && now - slots.back().lastUsed >= idleMs)
            Drop(std::prev(slots.end()), gone);
    }

    // Forgets everything, handing each value to gone.
    template <typename Gone>
    void Clear(Gone gone) {
        while (!slots.empty()) Drop(slots.begin(), gone);
    }

    size_t Count() const { return slots.size(); }
    const std::list<Slot>& Slots() const { return slots; }

private:
    // The IPv4 address: the four bytes after the port.
    static bool SameAddress(const unsigned char* a, const unsigned char* b) {
        return std::memcmp(a + 2, b + 2, 4) == 0;
    }
    template <typename Gone>
    void Drop(typename std::list<Slot>::iterator it, Gone& gone) {
        gone(it->value);
        slots.erase(it);
    }

    std::list<Slot> slots; // most recently used first
    size_t maxTotal;
    size_t maxPerAddress;
    uint64_t idleMs;
};

} // namespace fsp
