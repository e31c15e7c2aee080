#include "Throughput.h"

#include <algorithm>
#include <cstring>

#include "Packet.h"

namespace fsp {

void Throughput::SetLimit(uint32_t bytesPerSecond, uint64_t now) {
    if (bytesPerSecond && bytesPerSecond < kMinLimit) bytesPerSecond = kMinLimit;
    if (bytesPerSecond == limit) return;
    limit = bytesPerSecond;
    // A twentieth of a second's budget may go at once, and never less than
    // two of the largest replies: the timer that releases waiting replies
    // runs every few milliseconds, not for every byte.
    burst = std::max(double(limit) / 20.0, 2.0 * kMaxPacket);
    tokens = burst;
    at = now;
}

void Throughput::Refill(uint64_t now) {
    if (!limit) return;
    tokens = std::min(burst, tokens + double(now - at) * limit / 1000.0);
    at = now;
}

bool Throughput::SendNow(int n, uint64_t now) {
    if (!limit) return true;
    Refill(now);
    if (!queue.empty() || tokens < double(n)) return false;
    tokens -= double(n);
    return true;
}

int Throughput::Queue(const unsigned char* client, uint16_t key, const unsigned char* reply, int n,
                      uint64_t now) {
    if (n < kHeaderSize) return 0;
    uint64_t k = Key(client);
    auto same = byClient.find(k);
    if (same != byClient.end()) {
        queue.erase(same->second);
        byClient.erase(same);
    }
    if (queue.size() >= kMaxWaiting) return 0;
    queue.push_back(Reply{{}, key, std::vector<unsigned char>(reply, reply + n), now});
    std::memcpy(queue.back().client, client, kClientKeySize);
    byClient[k] = std::prev(queue.end());
    return 1;
}

int Throughput::Resent(const unsigned char* client, uint16_t key, uint16_t sequence) {
    auto it = byClient.find(Key(client));
    if (it == byClient.end() || it->second->key != key) return 0;
    std::vector<unsigned char>& d = it->second->data;
    PutU16(d.data() + 4, sequence);
    d[1] = 0;
    d[1] = uint8_t(CalcChecksum(d.data(), int(d.size()), 1));
    return 1;
}

} // namespace fsp
