#include "ReplyCache.h"

#include <cstring>

#include "Packet.h"

namespace fsp {

namespace {
// Whether request equals the kept one but for its checksum (byte 1) and
// sequence number (bytes 4 and 5): a resend keeps its key and usually
// takes a new sequence number.
bool SameRequest(const std::vector<unsigned char>& kept, const unsigned char* request, int n) {
    if (kept.size() != size_t(n) || n < kHeaderSize) return false;
    return kept[0] == request[0] && std::memcmp(&kept[2], request + 2, 2) == 0 &&
           std::memcmp(&kept[6], request + 6, size_t(n - 6)) == 0;
}
} // namespace

int ReplyCache::Answer(const unsigned char* client, const unsigned char* request, int n,
                       uint64_t now, unsigned char* out) {
    if (n < kHeaderSize) return 0;
    ClientTable<Kept>& table = TableOf(request);
    table.Expire(now, [this](Kept& k) { Unindex(k); });
    Kept* k = table.Find(client, now);
    if (!k || !SameRequest(k->request, request, n) || k->reply.size() < size_t(kHeaderSize))
        return 0;
    std::memcpy(out, k->reply.data(), k->reply.size());
    out[4] = request[4];
    out[5] = request[5];
    out[1] = 0;
    out[1] = uint8_t(CalcChecksum(out, int(k->reply.size()), 1));
    return int(k->reply.size());
}

void ReplyCache::Keep(const unsigned char* client, const unsigned char* request, int n,
                      const unsigned char* reply, int m, uint64_t now, const char* const* paths,
                      int pathCount) {
    auto gone = [this](Kept& k) { Unindex(k); };
    if (n < kHeaderSize) return;
    ClientTable<Kept>& table = TableOf(request);
    if (n > kMaxRequestPacket || m < kHeaderSize || m > kMaxPacket ||
        reply[0] == CC_ERR) {
        table.Remove(client, gone);
        return;
    }
    Kept* k = table.Find(client, now);
    if (!k) k = table.Insert(client, now, gone);
    if (!k) return;
    Unindex(*k);
    k->request.assign(request, request + n);
    k->request[1] = k->request[4] = k->request[5] = 0;
    k->reply.assign(reply, reply + m);
    Client c;
    std::memcpy(c.data(), client, c.size());
    for (int i = 0; i < pathCount && i < kMaxPaths; ++i)
        k->paths.push_back(byPath.emplace(std::string(paths[i]), c));
}

void ReplyCache::Forget(const char* path) {
    // The path itself and whatever lies below it: "p" and "p\..." (the
    // names between sort after '\' and before ']').
    std::string p(path);
    std::vector<Client> gone;
    auto collect = [&](PathIndex::iterator from, PathIndex::iterator to) {
        for (auto it = from; it != to; ++it) gone.push_back(it->second);
    };
    auto same = byPath.equal_range(p);
    collect(same.first, same.second);
    collect(byPath.lower_bound(p + '\\'), byPath.lower_bound(p + ']'));
    // Only changes carry paths.
    for (const Client& c : gone) changes.Remove(c.data(), [this](Kept& k) { Unindex(k); });
}

void ReplyCache::Clear() {
    changes.Clear([this](Kept& k) { Unindex(k); });
    pieces.Clear([this](Kept& k) { Unindex(k); });
}

void ReplyCache::Unindex(Kept& k) {
    for (PathIndex::iterator it : k.paths) byPath.erase(it);
    k.paths.clear();
}

} // namespace fsp
