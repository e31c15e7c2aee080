#include "Status.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace fsp {

namespace {
// Appends a formatted piece at *w, never past cap - 1; a piece cut short
// is cut at the start of the UTF-8 character that did not fit.
void Add(char* out, size_t cap, size_t* w, const char* format, ...) {
    if (*w + 1 >= cap) return;
    va_list args;
    va_start(args, format);
    int n = std::vsnprintf(out + *w, cap - *w, format, args);
    va_end(args);
    if (n < 0) {
        out[*w] = '\0';
        return;
    }
    size_t end = *w + size_t(n);
    if (end >= cap) {
        end = cap - 1;
        // The last character kept must be whole: its lead byte tells its length.
        size_t lead = end;
        while (lead > *w && (static_cast<unsigned char>(out[lead - 1]) & 0xC0) == 0x80) --lead;
        if (lead > *w) {
            unsigned char c = static_cast<unsigned char>(out[lead - 1]);
            size_t length = c < 0x80 ? 1 : c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : 2;
            if (lead - 1 + length > end) end = lead - 1;
        }
        out[end] = '\0';
    }
    *w = end;
}

bool Given(const char* text) { return text && *text; }
} // namespace

const char* AccessLevel(int uploadOnly, int readWrite) {
    return readWrite ? "read and write" : uploadOnly ? "uploads only" : "read only";
}

int Serving(const ServerStatus& s) {
    return s.bound && !Given(s.notBound) && !Given(s.rootProblem) && !Given(s.hostsProblem) && s.acceptRequests;
}

size_t FormatStatus(const ServerStatus& s, char* out, size_t cap) {
    if (cap == 0) return 0;
    out[0] = '\0';
    size_t w = 0;
    if (!Serving(s)) {
        const char* reasons[] = {
            Given(s.notBound) ? s.notBound : !s.bound ? "no port is bound" : nullptr,
            s.rootProblem,
            s.hostsProblem,
            s.acceptRequests ? nullptr : "Accept Incoming Requests is off",
        };
        const char* separator = "Not serving: ";
        for (const char* reason : reasons) {
            if (!Given(reason)) continue;
            Add(out, cap, &w, "%s%s", separator, reason);
            separator = "; ";
        }
        Add(out, cap, &w, " | ");
    }
    Add(out, cap, &w, "UDP port %d%s | %s%s | ", s.port, s.bound ? "" : " (not bound)",
        AccessLevel(s.uploadOnly, s.readWrite), s.accessFiles ? ", access files" : "");
    if (s.refused) Add(out, cap, &w, "%lu refused | ", s.refused);
    Add(out, cap, &w, "root %s", s.root ? s.root : "");
    return w;
}

} // namespace fsp
