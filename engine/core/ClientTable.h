// A bounded table of per-client state, keyed by the client's port and IPv4
// address (the six bytes from sin_port on in a socket address). Anything a
// client sends can add an entry, so the table bounds itself: at most
// maxPerAddress entries for one IPv4 address (any port) and maxTotal in
// all, each forgotten after idleMs without use. When an insert would pass
// a bound, the least recently used entry goes first (of that address, or
// of all), so a flood of new clients cannot starve one that keeps working.
// A table made to keep what others send from pushing an entry out
// (keepOthers) never drops another address's entry before it has been
// idle for idleMs: when full, a new entry takes the place of its own
// address's least recently used one, or is not made.
// Every operation but Expire and Clear takes constant time: entries are
// indexed by client and by address. Platform-free; the caller gives the
// time, in milliseconds.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <list>
#include <unordered_map>

namespace fsp {

constexpr size_t kClientKeySize = 6;

template <typename T>
class ClientTable {
public:
    struct Slot;
    using SlotList = std::list<Slot>;
    using AddressOrder = std::list<typename SlotList::iterator>; // most recently used first
    struct Slot {
        unsigned char client[kClientKeySize];
        uint64_t lastUsed;
        T value;
        typename AddressOrder::iterator inAddress; // this slot's place in its address's order
    };

    ClientTable(size_t maxTotal_, size_t maxPerAddress_, uint64_t idleMs_, bool keepOthers_ = false)
        : maxTotal(maxTotal_), maxPerAddress(maxPerAddress_), idleMs(idleMs_), keepOthers(keepOthers_) {}
    ClientTable(const ClientTable&) = delete;
    ClientTable& operator=(const ClientTable&) = delete;

    // The client's entry, marked as used now; null when there is none.
    T* Find(const unsigned char* client, uint64_t now) {
        auto found = byClient.find(Key(client));
        if (found == byClient.end()) return nullptr;
        auto it = found->second;
        it->lastUsed = now;
        slots.splice(slots.begin(), slots, it);
        AddressOrder& order = byAddress[Address(client)];
        order.splice(order.begin(), order, it->inAddress);
        return &it->value;
    }

    // A new entry for a client that has none (see Find), made room for
    // within the bounds; every value pushed out goes to gone(T&) first.
    // Null when there is no room (keepOthers).
    template <typename Gone>
    T* Insert(const unsigned char* client, uint64_t now, Gone gone) {
        if (maxTotal == 0 || maxPerAddress == 0) return nullptr;
        Expire(now, gone);
        auto same = byAddress.find(Address(client));
        if (same != byAddress.end() && same->second.size() >= maxPerAddress)
            Drop(same->second.back(), gone);
        if (keepOthers && slots.size() >= maxTotal) {
            // Expire left only young entries: the address gives up its own.
            same = byAddress.find(Address(client));
            if (same == byAddress.end()) return nullptr;
            Drop(same->second.back(), gone);
        }
        while (slots.size() >= maxTotal) Drop(std::prev(slots.end()), gone);
        slots.emplace_front();
        Slot& s = slots.front();
        std::memcpy(s.client, client, kClientKeySize);
        s.lastUsed = now;
        AddressOrder& order = byAddress[Address(client)];
        order.push_front(slots.begin());
        s.inAddress = order.begin();
        byClient[Key(client)] = slots.begin();
        return &s.value;
    }

    // Forgets the client's entry, if any, handing its value to gone first.
    template <typename Gone>
    void Remove(const unsigned char* client, Gone gone) {
        auto found = byClient.find(Key(client));
        if (found != byClient.end()) Drop(found->second, gone);
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
    const SlotList& Slots() const { return slots; }

private:
    static uint64_t Key(const unsigned char* c) {
        uint64_t k = 0;
        for (size_t i = 0; i < kClientKeySize; ++i) k = k << 8 | c[i];
        return k;
    }
    // The IPv4 address: the four bytes after the port.
    static uint32_t Address(const unsigned char* c) {
        return uint32_t(c[2]) << 24 | uint32_t(c[3]) << 16 | uint32_t(c[4]) << 8 | c[5];
    }
    template <typename Gone>
    void Drop(typename SlotList::iterator it, Gone& gone) {
        gone(it->value);
        auto order = byAddress.find(Address(it->client));
        order->second.erase(it->inAddress);
        if (order->second.empty()) byAddress.erase(order);
        byClient.erase(Key(it->client));
        slots.erase(it);
    }

    SlotList slots; // most recently used first
    std::unordered_map<uint64_t, typename SlotList::iterator> byClient;
    std::unordered_map<uint32_t, AddressOrder> byAddress;
    size_t maxTotal;
    size_t maxPerAddress;
    uint64_t idleMs;
    bool keepOthers;
};

// At most perSecond events a second from one IPv4 address (any port): a
// bucket per address that holds a second's worth and fills at that rate.
// Addresses are kept as clients are (ClientTable), so memory is bounded;
// one idle for a second has a full bucket again and is forgotten.
class AddressRate {
public:
    AddressRate(uint32_t perSecond_, size_t maxAddresses) : table(maxAddresses, 1, 1000), perSecond(perSecond_) {}

    // Whether the client's address may have one more event now; if so, it
    // is counted.
    bool Take(const unsigned char* client, uint64_t now) {
        const unsigned char key[kClientKeySize] = {0, 0, client[2], client[3], client[4], client[5]};
        const uint64_t full = uint64_t(perSecond) * 1000; // in thousandths of an event
        Bucket* b = table.Find(key, now);
        if (!b) {
            b = table.Insert(key, now, [](Bucket&) {});
            if (!b) return false;
            *b = Bucket{full, now};
        }
        uint64_t filled = b->thousandths + (now - b->at) * perSecond;
        b->thousandths = filled > full ? full : filled;
        b->at = now;
        if (b->thousandths < 1000) return false;
        b->thousandths -= 1000;
        return true;
    }

private:
    struct Bucket {
        uint64_t thousandths = 0;
        uint64_t at = 0;
    };
    ClientTable<Bucket> table;
    uint32_t perSecond;
};

} // namespace fsp
