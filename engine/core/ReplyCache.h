// The last reply to each client's last state-changing request, when that
// request did its work. A client that gets no reply sends the same request
// again, with the same key; run again, an install or a make-directory that
// worked the first time would fail, and the client would report a failure
// for work that was done. A request equal to the client's last kept one in
// everything but its sequence number and checksum is answered with the
// kept reply instead.
//
// Only work done is kept: a refusal or a failure is answered afresh, so it
// is never replayed after access was granted or the cause went away. And a
// kept reply is forgotten as soon as any later request changes a path its
// request changed (or anything below it): a new session that happens to
// reuse the port and key then has its request run, never told "ok" for a
// change that another client has undone since.
//
// Two memories, each bounded per source address: one for the changes to
// the tree (install, delete, make and remove directory, rename), which
// nothing another address sends can push out within the lifetime, and one
// for upload pieces, which anyone can send by the thousand without an
// answer (from forged addresses too) and which may push out only pieces.
// Platform-free.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "ClientTable.h"
#include "Packet.h"

namespace fsp {

class ReplyCache {
public:
    // One reply per client in each memory; the protocol forgets a session
    // after a minute without requests.
    static constexpr size_t kMaxChanges = 2048;
    static constexpr size_t kMaxPieces = 1024;
    static constexpr size_t kMaxPerAddress = 32;
    static constexpr uint64_t kLifetimeMs = 60000;
    // The paths one request may change: a rename changes two.
    static constexpr int kMaxPaths = 2;

    ReplyCache()
        : changes(kMaxChanges, kMaxPerAddress, kLifetimeMs, true),
          pieces(kMaxPieces, kMaxPerAddress, kLifetimeMs) {}
    ReplyCache(const ReplyCache&) = delete;
    ReplyCache& operator=(const ReplyCache&) = delete;
    ~ReplyCache() { Clear(); }

    // When the request (n bytes, a whole datagram) repeats the client's last
    // kept one, lays the kept reply out in out (kMaxPacket bytes) with the
    // request's sequence number and a fresh checksum and returns its size;
    // otherwise 0.
    int Answer(const unsigned char* client, const unsigned char* request, int n, uint64_t now,
               unsigned char* out);
    // Paths are the identities under which the file system knows the
    // entries (one string per entry, whatever the spelling a client used),
    // so that equal strings are one entry.
    //
    // Keeps reply (m bytes) as the answer to request (n bytes), which changed
    // the paths given (pathCount of them, at most kMaxPaths). An error
    // reply is not kept: it forgets what the client had kept instead.
    void Keep(const unsigned char* client, const unsigned char* request, int n,
              const unsigned char* reply, int m, uint64_t now, const char* const* paths,
              int pathCount);
    // Forgets every kept reply whose request changed path, or an entry
    // below it.
    void Forget(const char* path);
    void Clear();

    size_t Count() const { return changes.Count() + pieces.Count(); }

private:
    using Client = std::array<unsigned char, kClientKeySize>;
    using PathIndex = std::multimap<std::string, Client>;
    struct Kept {
        std::vector<unsigned char> request; // sequence and checksum zeroed
        std::vector<unsigned char> reply;
        std::vector<PathIndex::iterator> paths;
    };
    void Unindex(Kept& k);
    // The memory of a request's command.
    ClientTable<Kept>& TableOf(const unsigned char* request) {
        return request[0] == CC_UP_LOAD ? pieces : changes;
    }

    ClientTable<Kept> changes, pieces;
    PathIndex byPath; // the paths each kept request changed
};

} // namespace fsp
