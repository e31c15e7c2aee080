// The operator's host table: who is served, ignored or told no. Each rule
// is "MASK TYPE [MESSAGE]": MASK an IPv4 address, a range of addresses
// ("10.0.0.1-10.0.0.9"), a pattern with a number, a span ("1-5") or '*'
// in each of its four parts ("134.225.*.*"), or a CIDR block
// ("10.0.0.0/8"); TYPE N (serve), I (ignore: no reply at all) or D (deny:
// an error reply carrying MESSAGE). The first rule that matches decides.
// Platform-free; addresses are IPv4 in host byte order.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace fsp {

enum class HostAction { Serve, Ignore, Deny };

struct HostRule {
    uint8_t lo[4], hi[4]; // each part of the address within lo..hi (most significant first)
    uint32_t first, last; // and the whole address within first..last
    HostAction action;
    std::string message; // a D rule's reply
};

// The reply of a D rule written without a message.
extern const char kDeniedText[];
// The longest message a D rule may carry: it travels in one error reply.
constexpr size_t kMaxHostMessage = 200;

// Parses one rule. On failure returns 0 with why in *reason (a sentence
// for the operator).
int ParseHostRule(const std::string& text, HostRule* rule, std::string* reason);

class HostTable {
public:
    // Takes the rules, blank ones skipped. When one cannot be read, the
    // table fails closed (Decide ignores everyone) and 0 is returned with
    // *bad naming the rule (its number from 1, its text) and why.
    int Set(const std::vector<std::string>& rules, std::string* bad);
    // A table that serves no one, for when the stored rules cannot even be
    // read as a list.
    void FailClosed() { rules.clear(); closed = true; }
    bool Closed() const { return closed; }

    // What to do with a request from address: the first matching rule's
    // action, else Ignore in privilege mode and Serve otherwise. *message
    // gets a D rule's text.
    HostAction Decide(uint32_t address, int privMode, const char** message) const;

    size_t Size() const { return rules.size(); }

private:
    std::vector<HostRule> rules;
    bool closed = false;
};

} // namespace fsp
