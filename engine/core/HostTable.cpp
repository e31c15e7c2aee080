#include "HostTable.h"

#include <cctype>
#include <cstdio>

namespace fsp {

const char kDeniedText[] = "Access denied";

namespace {
// A decimal number from 0 to 255 at *p, advancing past it.
int Number(const char*& p, unsigned* value) {
    if (!std::isdigit(static_cast<unsigned char>(*p))) return 0;
    unsigned v = 0;
    int digits = 0;
    while (std::isdigit(static_cast<unsigned char>(*p))) {
        v = v * 10 + unsigned(*p++ - '0');
        if (++digits > 3 || v > 255) return 0;
    }
    *value = v;
    return 1;
}

// A plain dotted address, the whole of text.
int Address(const std::string& text, uint32_t* out) {
    const char* p = text.c_str();
    uint32_t a = 0;
    for (int i = 0; i < 4; ++i) {
        unsigned v;
        if ((i && *p++ != '.') || !Number(p, &v)) return 0;
        a = a << 8 | v;
    }
    *out = a;
    return *p == '\0';
}

void FromRange(HostRule* r, uint32_t first, uint32_t last) {
    r->first = first;
    r->last = last;
    for (int i = 0; i < 4; ++i) {
        r->lo[i] = 0;
        r->hi[i] = 255;
    }
}

int Mask(const std::string& m, HostRule* r, std::string* reason) {
    size_t slash = m.find('/');
    size_t dash = m.find('-');
    if (slash != std::string::npos) {
        uint32_t a;
        const char* p = m.c_str() + slash + 1;
        unsigned bits = 0;
        int digits = 0;
        while (std::isdigit(static_cast<unsigned char>(*p)) && digits < 3) {
            bits = bits * 10 + unsigned(*p++ - '0');
            ++digits;
        }
        if (!Address(m.substr(0, slash), &a) || !digits || *p || bits > 32) {
            *reason = "a CIDR block is an address, '/' and a prefix length from 0 to 32";
            return 0;
        }
        uint32_t mask = bits ? ~uint32_t(0) << (32 - bits) : 0;
        if (a & ~mask) {
            *reason = "the address of a CIDR block has bits set beyond its prefix length";
            return 0;
        }
        FromRange(r, a, a | ~mask);
        return 1;
    }
    // "a.b.c.d-e.f.g.h": two whole addresses.
    if (dash != std::string::npos && m.find('.', dash) != std::string::npos) {
        uint32_t a, b;
        if (!Address(m.substr(0, dash), &a) || !Address(m.substr(dash + 1), &b)) {
            *reason = "a range is two addresses joined by '-'";
            return 0;
        }
        if (a > b) {
            *reason = "a range must start at its lower address";
            return 0;
        }
        FromRange(r, a, b);
        return 1;
    }
    // Four parts, each a number, a span "lo-hi" or '*'.
    const char* p = m.c_str();
    for (int i = 0; i < 4; ++i) {
        if (i && *p++ != '.') {
            *reason = "an address has four parts separated by dots";
            return 0;
        }
        unsigned lo = 0, hi = 255;
        if (*p == '*') {
            ++p;
        } else if (!Number(p, &lo)) {
            *reason = "each part of an address is a number from 0 to 255, a span such as 1-5, or *";
            return 0;
        } else if (*p == '-') {
            ++p;
            if (!Number(p, &hi) || hi < lo) {
                *reason = "a span within a part of an address is two numbers from 0 to 255, the "
                          "lower first";
                return 0;
            }
        } else {
            hi = lo;
        }
        r->lo[i] = uint8_t(lo);
        r->hi[i] = uint8_t(hi);
    }
    if (*p) {
        *reason = "an address has four parts separated by dots";
        return 0;
    }
    r->first = 0;
    r->last = ~uint32_t(0);
    return 1;
}
} // namespace

int ParseHostRule(const std::string& text, HostRule* rule, std::string* reason) {
    size_t at = 0;
    auto word = [&]() {
        while (at < text.size() && std::isspace(static_cast<unsigned char>(text[at]))) ++at;
        size_t start = at;
        while (at < text.size() && !std::isspace(static_cast<unsigned char>(text[at]))) ++at;
        return text.substr(start, at - start);
    };
    std::string mask = word();
    std::string type = word();
    if (mask.empty() || type.empty()) {
        *reason = "a rule is an address or mask, then N, I or D, then for D a message";
        return 0;
    }
    if (!Mask(mask, rule, reason)) return 0;
    if (type == "N" || type == "n") rule->action = HostAction::Serve;
    else if (type == "I" || type == "i") rule->action = HostAction::Ignore;
    else if (type == "D" || type == "d") rule->action = HostAction::Deny;
    else {
        *reason = "the type after the address must be N (serve), I (ignore) or D (deny)";
        return 0;
    }
    while (at < text.size() && std::isspace(static_cast<unsigned char>(text[at]))) ++at;
    size_t end = text.size();
    while (end > at && std::isspace(static_cast<unsigned char>(text[end - 1]))) --end;
    rule->message = text.substr(at, end - at);
    if (!rule->message.empty() && rule->action != HostAction::Deny) {
        *reason = "only a D rule carries a message";
        return 0;
    }
    for (unsigned char c : rule->message)
        if (c < 0x20 || c == 0x7F) {
            *reason = "the message holds a control character";
            return 0;
        }
    if (rule->message.size() > kMaxHostMessage) {
        char text2[80];
        std::snprintf(text2, sizeof(text2), "the message is longer than %u characters",
                      unsigned(kMaxHostMessage));
        *reason = text2;
        return 0;
    }
    if (rule->action == HostAction::Deny && rule->message.empty()) rule->message = kDeniedText;
    return 1;
}

int HostTable::Set(const std::vector<std::string>& texts, std::string* bad) {
    rules.clear();
    closed = false;
    for (size_t i = 0; i < texts.size(); ++i) {
        if (texts[i].find_first_not_of(" \t\r\n") == std::string::npos) continue;
        HostRule r;
        std::string reason;
        if (!ParseHostRule(texts[i], &r, &reason)) {
            char head[32];
            std::snprintf(head, sizeof(head), "Rule %u", unsigned(i + 1));
            *bad = std::string(head) + " \"" + texts[i].substr(0, 80) + "\": " + reason;
            FailClosed();
            return 0;
        }
        rules.push_back(std::move(r));
    }
    return 1;
}

HostAction HostTable::Decide(uint32_t address, int privMode, const char** message) const {
    if (closed) return HostAction::Ignore;
    for (const HostRule& r : rules) {
        if (address < r.first || address > r.last) continue;
        bool inside = true;
        for (int i = 0; i < 4 && inside; ++i) {
            unsigned part = (address >> (24 - 8 * i)) & 0xFF;
            inside = part >= r.lo[i] && part <= r.hi[i];
        }
        if (!inside) continue;
        if (message) *message = r.message.c_str();
        return r.action;
    }
    return privMode ? HostAction::Ignore : HostAction::Serve;
}

} // namespace fsp
