// Any directory and block size: a client that reads the listing block by
// block, as libfsplib does, sees every listed entry exactly once and in
// order, in blocks of the size asked for or, when an entry does not fit
// those, of 1024 bytes; and no reply starts inside an entry.
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "FuzzCheck.h"
#include "engine/core/ListingCache.h"

namespace {
struct Dir {
    std::vector<fsp::DirEntry> entries;
    std::vector<std::string> names;
};
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size) {
    if (size < 2) return 0;
    // The block size as a request asks for it, in its first two bytes of
    // extra data.
    fsp::RequestRecord rec;
    unsigned char extra[2] = {bytes[0], bytes[1]};
    rec.extraData = extra;
    rec.extraLength = 2;
    uint32_t b = fsp::RequestBlockSize(rec);
    FUZZ_CHECK(b >= 1 && b <= fsp::kMaxPayload);
    Dir dir;
    // Entries: a flag byte, a length byte, then that many name bytes.
    size_t i = 2;
    while (i + 2 <= size && dir.names.size() < 400) {
        uint8_t flags = bytes[i], len = bytes[i + 1];
        i += 2;
        std::string name(reinterpret_cast<const char*>(bytes + i), std::min<size_t>(len, size - i));
        i += name.size();
        name = name.substr(0, name.find('\0'));
        if (flags & 0x80) name.append(200, 'n'); // long names too
        fsp::DirEntry e;
        e.isDir = flags & 1;
        e.unixTime = uint32_t(flags) * 2654435761u;
        e.size = uint32_t(len) * 40503u;
        dir.entries.push_back(e);
        dir.names.push_back(name);
    }

    fsp::EntryList list;
    std::vector<std::string> listed;
    // The placement rule: an entry fills a block or leaves room for a
    // marker. "." and ".." take 12 bytes each.
    auto Fits = [&](uint32_t s) { return s == fsp::AskedBlock(b) || s + 12 <= fsp::AskedBlock(b); };
    bool fits = Fits(12);
    for (size_t k = 0; k < dir.entries.size(); ++k) {
        fsp::DirEntry e = dir.entries[k];
        e.name = dir.names[k].c_str();
        list.Add(e);
        const std::string& n = dir.names[k];
        if (n.empty() || n[0] == '.' || n.size() > size_t(fsp::kMaxName)) continue;
        listed.push_back(n);
        if (!Fits(uint32_t(fsp::PacketSize(int(n.size() + 1))))) fits = false;
    }
    fsp::Layout layout;
    FUZZ_CHECK(fsp::LayOut(list, b, &layout) == 1);
    const uint32_t block = layout.block;
    FUZZ_CHECK(block == (fits ? fsp::AskedBlock(b) : fsp::kMaxPayload));

    // Read as a client: from 0, each next position the sum of the lengths.
    std::vector<std::string> seen;
    std::vector<unsigned char> assembled;
    uint32_t pos = 0;
    for (int guard = 0; guard < 100000; ++guard) {
        unsigned char kept[fsp::kMaxPayload];
        int n = fsp::SliceListing(layout, pos, kept);
        FUZZ_CHECK(n >= 0 && uint32_t(n) <= block);
        assembled.insert(assembled.end(), kept, kept + n);
        pos += uint32_t(n);
        if (uint32_t(n) < block) break;
    }
    FUZZ_CHECK(assembled == layout.stream);
    unsigned char scratch[fsp::kMaxPayload];
    uint32_t inside = block / 2 + 2;
    FUZZ_CHECK(fsp::SliceListing(layout, inside, scratch) == (inside < assembled.size() ? -1 : 0));

    // Walk the stream as a reader does.
    size_t at = 0;
    bool ended = false;
    while (at + fsp::kEntryHeader <= assembled.size()) {
        uint8_t type = assembled[at + 8];
        if (type == fsp::kTypeEnd) {
            ended = true;
            break;
        }
        if (type == fsp::kTypeSkip) {
            at = (at / block + 1) * block;
            continue;
        }
        FUZZ_CHECK(type == fsp::kTypeFile || type == fsp::kTypeDir);
        const char* name = reinterpret_cast<const char*>(&assembled[at + 9]);
        size_t len = strnlen(name, assembled.size() - at - 9);
        FUZZ_CHECK(at + 9 + len < assembled.size());
        // An entry never straddles a block.
        size_t size = size_t(fsp::PacketSize(int(len + 1)));
        FUZZ_CHECK(at / block == (at + size - 1) / block);
        seen.emplace_back(name, len);
        at += size;
    }
    FUZZ_CHECK(ended);
    FUZZ_CHECK(seen.size() == listed.size() + 2);
    FUZZ_CHECK(seen[0] == "." && seen[1] == "..");
    for (size_t k = 0; k < listed.size(); ++k) FUZZ_CHECK(seen[k + 2] == listed[k]);
    return 0;
}
