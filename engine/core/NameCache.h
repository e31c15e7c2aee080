// What is known of the reverse names of client addresses, for "Name
// Required": an answer, named or not, is kept kKeepMs; an address not yet
// answered is asked of the resolver once, and asked again only if no
// answer came within kRetryMs. Platform-free; the resolver lives in the
// shell, off the window's thread. Times in milliseconds, given by the
// caller.
#pragma once

#include <cstddef>
#include <cstdint>
#include <unordered_map>

namespace fsp {

class NameCache {
public:
    static constexpr uint64_t kKeepMs = 10 * 60 * 1000;
    static constexpr uint64_t kRetryMs = 30 * 1000;
    static constexpr size_t kMaxEntries = 4096;
    static constexpr size_t kMaxAsking = 64;

    enum State {
        Named,
        Unnamed,
        Waiting, // asked, no answer yet
        Ask,     // not known: the caller must ask the resolver (now Waiting)
        Busy,    // too many questions open: try again later
    };
    State Lookup(uint32_t address, uint64_t now);
    void Answer(uint32_t address, bool named, uint64_t now);
    size_t Size() const { return entries.size(); }

private:
    struct Entry {
        State state;
        uint64_t at; // when asked or answered
    };
    void Prune(uint64_t now);
    std::unordered_map<uint32_t, Entry> entries;
    size_t asking = 0;
};

} // namespace fsp
