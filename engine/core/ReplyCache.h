// The last reply to each client's last state-changing request. A client
// that gets no reply sends the same request again, with the same key; run
// again, an install or a make-directory that worked the first time would
// fail, and the client would report a failure for work that was done. A
// request equal to the client's last one in everything but its sequence
// number and checksum is answered with the kept reply instead.
// Platform-free.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "ClientTable.h"

namespace fsp {

class ReplyCache {
public:
    // One reply per client; the protocol forgets a session after a minute
    // without requests.
    static constexpr size_t kMaxClients = 1024;
    static constexpr size_t kMaxPerAddress = 64;
    static constexpr uint64_t kLifetimeMs = 60000;

    ReplyCache() : table(kMaxClients, kMaxPerAddress, kLifetimeMs) {}

    // When the request (n bytes, a whole datagram) repeats the client's last
    // kept one, lays the kept reply out in out (kMaxPacket bytes) with the
    // request's sequence number and a fresh checksum and returns its size;
    // otherwise 0.
    int Answer(const unsigned char* client, const unsigned char* request, int n, uint64_t now,
               unsigned char* out);
    // Keeps reply (m bytes) as the answer to request (n bytes).
    void Keep(const unsigned char* client, const unsigned char* request, int n,
              const unsigned char* reply, int m, uint64_t now);

    size_t Count() const { return table.Count(); }

private:
    struct Kept {
        std::vector<unsigned char> request; // sequence and checksum zeroed
        std::vector<unsigned char> reply;
    };
    ClientTable<Kept> table;
};

} // namespace fsp
