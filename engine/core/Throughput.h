// Throughput control: the server sends on average no more than a limit of
// bytes a second in all, shared fairly among the clients. A reply that
// has no budget waits its turn; every client is stop-and-wait, so each
// has at most one reply waiting and the turns go round the clients in the
// order they came, one reply each. A reply that has waited kMaxWaitMs,
// the protocol's resend interval, is dropped rather than sent late: the
// client has sent again by then, and that request takes its turn.
// Platform-free; times in milliseconds, given by the caller.
#pragma once

#include <cstddef>
#include <cstdint>
#include <list>
#include <unordered_map>
#include <vector>

#include "ClientTable.h"

namespace fsp {

class Throughput {
public:
    static constexpr uint64_t kMaxWaitMs = 1000;
    static constexpr size_t kMaxWaiting = 1024;
    // The least limit taken: one reply of the largest size a second.
    static constexpr uint32_t kMinLimit = 1036;
    static constexpr uint32_t kDefaultLimit = 1000000;

    // 0 turns control off (and sends what waits at the next Release).
    void SetLimit(uint32_t bytesPerSecond, uint64_t now);
    uint32_t Limit() const { return limit; }

    // Whether a reply of n bytes may go at once (control off, or no reply
    // waiting and budget left); its budget is taken when it may.
    bool SendNow(int n, uint64_t now);
    // Keeps a reply (n bytes) for client until its turn, the answer to a
    // request that carried key. 0 when too many wait: the reply is not
    // kept, and the client's resend comes back.
    int Queue(const unsigned char* client, uint16_t key, const unsigned char* reply, int n, uint64_t now);
    // For a request from client that carries the key of the request whose
    // reply waits (a resend): the waiting reply takes the request's
    // sequence number, and 1 is returned: the request is answered by it.
    // 0 otherwise.
    int Resent(const unsigned char* client, uint16_t key, uint16_t sequence);
    // Hands the waiting replies the budget allows to send(client, data,
    // n), in turn; drops those that waited kMaxWaitMs. Returns the
    // milliseconds until the next one may go, or -1 when none waits.
    template <typename Send>
    int Release(uint64_t now, Send send);

    size_t Waiting() const { return queue.size(); }
    unsigned long dropped = 0; // replies dropped after waiting too long

private:
    struct Reply {
        unsigned char client[kClientKeySize];
        uint16_t key;
        std::vector<unsigned char> data;
        uint64_t since;
    };
    void Refill(uint64_t now);
    static uint64_t Key(const unsigned char* c) {
        uint64_t k = 0;
        for (size_t i = 0; i < kClientKeySize; ++i) k = k << 8 | c[i];
        return k;
    }

    uint32_t limit = 0;
    double tokens = 0, burst = 0;
    uint64_t at = 0;
    std::list<Reply> queue; // oldest first
    std::unordered_map<uint64_t, std::list<Reply>::iterator> byClient;
};

template <typename Send>
int Throughput::Release(uint64_t now, Send send) {
    Refill(now);
    while (!queue.empty()) {
        Reply& r = queue.front();
        if (limit && now - r.since >= kMaxWaitMs) {
            ++dropped;
        } else if (limit && tokens < double(r.data.size())) {
            // Due when the budget has grown enough.
            return int((double(r.data.size()) - tokens) * 1000.0 / limit) + 1;
        } else {
            if (limit) tokens -= double(r.data.size());
            send(r.client, r.data.data(), int(r.data.size()));
        }
        byClient.erase(Key(r.client));
        queue.pop_front();
    }
    return -1;
}

} // namespace fsp
