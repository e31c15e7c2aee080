// What the window's status bar says about the server, composed in one
// place from one record, so every state reads the same way and the wording
// is tested natively. Platform-free.
//
// To show something more, add a member to ServerStatus (with a default
// that shows nothing) and its words in FormatStatus; the daemon fills the
// record in FSPDaemon::Status.
#pragma once

#include <cstddef>

namespace fsp {

// The access level the two access flags give: "read only", "uploads only"
// or "read and write".
const char* AccessLevel(int uploadOnly, int readWrite);

struct ServerStatus {
    int port = 0;                // as configured
    int bound = 0;               // the socket is bound to port
    const char* root = "";       // the root as configured
    int uploadOnly = 0, readWrite = 0;
    int accessFiles = 0;         // access files in directories are honoured
    int acceptRequests = 1;      // Security > Accept Incoming Requests
    // Why nothing is served, in words, most urgent first; null or empty
    // when there is no such reason. notBound: the port is not bound (its
    // cause); root: the root cannot be served.
    // hosts: the stored host table cannot be used (which rule, and why).
    const char* notBound = nullptr;
    const char* rootProblem = nullptr;
    const char* hostsProblem = nullptr;
    // Requests ignored or denied by the host table or Name Required.
    unsigned long refused = 0;
};

// Whether requests are served at all: a port bound, a root that serves,
// and requests accepted.
int Serving(const ServerStatus& s);

// One line into out (cap bytes, always NUL-terminated, cut between UTF-8
// characters when too long): "Not serving: REASON; REASON | " when not
// serving, then "UDP port N" with " (not bound)" unless it is bound, the
// access level (with ", access files"), "N refused" when some were, and
// "root PATH" last, so that a
// line too wide for the bar loses only the end of the path. Returns its
// length.
size_t FormatStatus(const ServerStatus& s, char* out, size_t cap);

} // namespace fsp
