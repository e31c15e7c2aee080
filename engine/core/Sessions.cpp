#include "Sessions.h"

#include <algorithm>

namespace fsp {

SessionTable::SessionTable(std::function<uint16_t()> keySource)
    : keys(std::move(keySource)), sessions(kMaxSessions, kMaxPerAddress, kIdleMs),
      buckets(kMaxAddresses, 1, uint64_t(kBurst / kRate * 1000)) {}

uint16_t SessionTable::NewKey(uint16_t not1, uint16_t not2) {
    uint16_t k = keys();
    for (int i = 0; i < 8 && (k == not1 || k == not2); ++i) k = keys();
    return k;
}

bool SessionTable::Take(const unsigned char* client, uint64_t now) {
    unsigned char address[kClientKeySize] = {0, 0, client[2], client[3], client[4], client[5]};
    auto none = [](Bucket&) {};
    Bucket* b = buckets.Find(address, now);
    if (!b) {
        b = buckets.Insert(address, now, none);
        if (!b) return false;
        b->at = now;
    }
    b->tokens = std::min(kBurst, b->tokens + double(now - b->at) * kRate / 1000.0);
    b->at = now;
    if (b->tokens < 1) return false;
    b->tokens -= 1;
    return true;
}

SessionTable::Verdict SessionTable::Admit(const unsigned char* client, uint16_t key, uint64_t now,
                                          uint16_t* replyKey) {
    Session* s = sessions.Find(client, now);
    if (s && key == s->key) {
        s->lastKey = key;
        s->lastIssued = true;
        s->key = NewKey(key, key);
        *replyKey = s->key;
        return Serve;
    }
    if (s && key == s->lastKey) {
        if (!s->lastIssued && !Take(client, now)) return Drop;
        *replyKey = s->key;
        return Repeat;
    }
    if (!Take(client, now)) return Drop;
    if (!s) s = sessions.Insert(client, now, [](Session&) {});
    if (!s) return Drop;
    s->lastKey = key;
    s->lastIssued = false;
    s->key = NewKey(key, key);
    *replyKey = s->key;
    return Serve;
}

bool LogLimiter::Allow(uint32_t address, uint64_t now) {
    if (!started || now - periodStart >= kPeriodMs) {
        started = true;
        periodStart = now;
        lines = 0;
    }
    auto it = last.find(address);
    if (it != last.end() && now - it->second < kPeriodMs) return false;
    if (lines >= kMaxLines) return false;
    if (it == last.end() && last.size() >= kMaxAddresses) {
        for (auto i = last.begin(); i != last.end();)
            i = now - i->second >= kPeriodMs ? last.erase(i) : std::next(i);
        // Still full: more addresses than lines allowed a minute were
        // logged in the last one, so this one would not be either.
        if (last.size() >= kMaxAddresses) return false;
    }
    last[address] = now;
    ++lines;
    return true;
}

} // namespace fsp
