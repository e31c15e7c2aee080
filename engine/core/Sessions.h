// Keys that stop forged sources, and the limits on what any one address
// can make the server do. Platform-free; times in milliseconds, given by
// the caller.
//
// FSP clients send back the key of the last reply they received, and a
// forger who cannot see the replies cannot. Each client (address and
// port) gets a key chosen at random with every reply; a request is served
// when it carries that key, again (answered without a new key) when it
// carries the key of the request served before it (a resend of a lost
// reply), or when it opens a new session with any other key. New
// sessions from one address are limited by a token bucket: a burst of
// kBurst, then kRate a second. A resend of a request that opened a session
// (whose key the server never gave out) counts as opening one, so that a
// forger cannot repeat it for free; a resend of a request made with the
// server's key does not.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <unordered_map>

#include "ClientTable.h"

namespace fsp {

class SessionTable {
public:
    static constexpr size_t kMaxSessions = 4096;
    static constexpr size_t kMaxPerAddress = 256;
    static constexpr uint64_t kIdleMs = 60000; // the protocol's session lifetime
    static constexpr double kBurst = 100;
    static constexpr double kRate = 8; // new sessions a second, after the burst
    static constexpr size_t kMaxAddresses = 16384;

    enum Verdict {
        Serve,  // serve it; the reply carries a new key
        Repeat, // a resend: serve it again; the reply carries the key given before
        Drop,   // no reply
    };

    // keySource gives random 16-bit keys.
    explicit SessionTable(std::function<uint16_t()> keySource);

    // Decides on a request carrying key from client (the six bytes of
    // ClientTable); on Serve and Repeat, *replyKey is the reply's key.
    Verdict Admit(const unsigned char* client, uint16_t key, uint64_t now, uint16_t* replyKey);

    size_t Count() const { return sessions.Count(); }

private:
    struct Session {
        uint16_t key = 0;      // the key the client was given last
        uint16_t lastKey = 0;  // the key of the request served last
        bool lastIssued = false; // whether lastKey was one the server gave out
    };
    struct Bucket {
        double tokens = kBurst;
        uint64_t at = 0;
    };
    // Takes one new session from the address's bucket.
    bool Take(const unsigned char* client, uint64_t now);
    uint16_t NewKey(uint16_t not1, uint16_t not2);

    std::function<uint16_t()> keys;
    ClientTable<Session> sessions;
    // Keyed by the address alone (port 0). An idle bucket is full again
    // after kBurst / kRate seconds: forgetting it then changes nothing.
    ClientTable<Bucket> buckets;
};

// Whether a line about an address may go to the log: at most one a minute
// for each address, and at most kMaxLines a minute in all, so that a flood
// from any number of addresses cannot fill the log.
class LogLimiter {
public:
    static constexpr uint64_t kPeriodMs = 60000;
    static constexpr unsigned kMaxLines = 120;
    static constexpr size_t kMaxAddresses = 4096;
    bool Allow(uint32_t address, uint64_t now);

private:
    std::unordered_map<uint32_t, uint64_t> last; // when each address was last logged
    uint64_t periodStart = 0;
    unsigned lines = 0;
    bool started = false;
};

} // namespace fsp
