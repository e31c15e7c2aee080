// Directory entries, time conversion and block assembly, checked against a
// model of how clients reassemble and read a listing.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "engine/core/Listing.h"
#include "engine/core/Packet.h"

using namespace fsp;

namespace {
using Bytes = std::vector<unsigned char>;

struct Source {
    std::vector<DirEntry> entries;
    std::vector<std::string> names; // owns the entries' names
};

Source Dir(const std::vector<std::string>& names) {
    Source s;
    s.names = names;
    for (size_t i = 0; i < names.size(); ++i) {
        DirEntry e;
        e.isDir = i % 7 == 3;
        e.unixTime = uint32_t(1000000 + i);
        e.size = uint32_t(i * 13);
        s.entries.push_back(e);
    }
    return s;
}

// The listing of src laid out as a kept listing is.
Layout Lay(const Source& src, uint32_t b) {
    EntryList list;
    DirEntry e;
    for (size_t i = 0; i < src.entries.size(); ++i) {
        e = src.entries[i];
        e.name = src.names[i].c_str();
        list.Add(e);
    }
    Layout l;
    EXPECT_EQ(LayOut(list, b, &l), 1);
    return l;
}

// One reply: the block for position, or nothing when refused.
bool Block(const Layout& l, uint32_t position, Bytes* out) {
    unsigned char buf[kMaxPayload + 16];
    std::memset(buf, 0xEE, sizeof(buf)); // the block must not rely on a zeroed buffer
    int n = SliceListing(l, position, buf);
    if (n < 0) return false;
    EXPECT_LE(uint32_t(n), l.block);
    EXPECT_TRUE(std::all_of(buf + n, buf + sizeof(buf), [](unsigned char c) { return c == 0xEE; }))
        << "wrote past the block";
    out->assign(buf, buf + n);
    return true;
}
bool Block(const Source& src, uint32_t b, uint32_t position, Bytes* out) {
    return Block(Lay(src, b), position, out);
}

// What a client does: ask for position 0, then for the sum of the lengths
// received, until a block is shorter than the first one.
Bytes Fetch(const Source& src, uint32_t b, std::vector<size_t>* lengths = nullptr) {
    Layout l = Lay(src, b);
    Bytes stream;
    size_t first = 0;
    for (int guard = 0; guard < 100000; ++guard) {
        Bytes blk;
        if (!Block(l, uint32_t(stream.size()), &blk)) {
            ADD_FAILURE() << "refused at " << stream.size();
            return stream;
        }
        if (lengths) lengths->push_back(blk.size());
        if (blk.empty()) break;
        if (first == 0) first = blk.size();
        stream.insert(stream.end(), blk.begin(), blk.end());
        if (blk.size() < first) break;
    }
    return stream;
}

struct Read {
    std::string name;
    uint8_t type;
    uint32_t time, size;
};

// A reader as clients have it: a skip marker moves to the next multiple
// of the block size, a type of 0 ends the listing.
std::vector<Read> Parse(const Bytes& d, size_t blockSize, bool* ended) {
    std::vector<Read> out;
    *ended = false;
    size_t pos = 0;
    while (pos < d.size()) {
        // Older readers take the type byte even from a block tail shorter
        // than a header, that is from the next block: the layout must never
        // leave such a tail before more entries.
        uint8_t type = pos + 8 < d.size() ? d[pos + 8] : 0xFF;
        if (type == 0xFF) break;
        if (type == kTypeEnd) {
            *ended = true;
            break;
        }
        if (type == kTypeSkip) {
            pos = (pos / blockSize + 1) * blockSize;
            continue;
        }
        const void* nul = std::memchr(&d[pos + 9], 0, d.size() - pos - 9);
        if (!nul) break;
        Read r;
        r.name.assign(reinterpret_cast<const char*>(&d[pos + 9]));
        r.type = type;
        r.time = GetU32(&d[pos]);
        r.size = GetU32(&d[pos + 4]);
        out.push_back(r);
        pos += 9 + r.name.size() + 1;
        pos = (pos + 3) & ~size_t(3);
    }
    return out;
}

std::vector<std::string> Names(size_t count, size_t maxLength, unsigned seed) {
    std::mt19937 rng(seed);
    std::uniform_int_distribution<size_t> len(1, maxLength);
    std::vector<std::string> names;
    for (size_t i = 0; i < count; ++i) {
        std::string n = std::to_string(i) + "_";
        n.resize(std::max(len(rng), n.size()), 'x');
        names.push_back(n);
    }
    return names;
}

Bytes Entry(const std::string& name, uint8_t type, uint32_t time, uint32_t size) {
    Bytes e(size_t(PacketSize(int(name.size()) + 1)), 0);
    PutU32(&e[0], time);
    PutU32(&e[4], size);
    e[8] = type;
    std::memcpy(&e[9], name.data(), name.size());
    return e;
}

const Bytes kDots = [] {
    Bytes d = Entry(".", kTypeDir, 0, 0);
    Bytes dd = Entry("..", kTypeDir, 0, 0);
    d.insert(d.end(), dd.begin(), dd.end());
    return d;
}();
} // namespace

TEST(Entry, LayoutAndSize) {
    EXPECT_EQ(PacketSize(2), 12);   // one-letter name with its NUL
    EXPECT_EQ(PacketSize(3), 12);
    EXPECT_EQ(PacketSize(4), 16);
    EXPECT_EQ(PacketSize(7), 16);
    EXPECT_EQ(PacketSize(8), 20);
    EXPECT_EQ(PacketSize(kMaxName + 1), kMaxEntry);

    unsigned char area[kMaxEntry];
    DirEntry e;
    e.unixTime = 0x01020304;
    e.size = 0xA0B0C0D0;
    e.name = "abc";
    ASSERT_EQ(MakeEntry(area, e), 16);
    EXPECT_EQ(Bytes(area, area + 16), Entry("abc", kTypeFile, 0x01020304, 0xA0B0C0D0));

    // A directory never carries a size.
    e.isDir = true;
    ASSERT_EQ(MakeEntry(area, e), 16);
    EXPECT_EQ(Bytes(area, area + 16), Entry("abc", kTypeDir, 0x01020304, 0));

    std::string longest(kMaxName, 'n');
    e.name = longest.c_str();
    ASSERT_EQ(MakeEntry(area, e), kMaxEntry);
    EXPECT_EQ(area[9 + kMaxName], 0);

    // Not listed: leading dot, empty, longer than any platform name.
    std::string tooLong(kMaxName + 1, 'n');
    for (const char* name : {".", "..", ".profile", "", tooLong.c_str()}) {
        std::memset(area, 0x55, sizeof(area));
        e.name = name;
        EXPECT_EQ(MakeEntry(area, e), 0) << name;
        EXPECT_EQ(Bytes(area, area + kMaxEntry), Bytes(kMaxEntry, 0)) << name;
    }
}

TEST(Entry, FileTimesGiveExactUnixSeconds) {
    const uint64_t epoch = 116444736000000000ull; // 1970-01-01 in 100 ns since 1601
    auto At = [](uint64_t ft) { return FileTimeToUnixTime(uint32_t(ft), uint32_t(ft >> 32)); };
    EXPECT_EQ(At(epoch), 0u);
    // 1995-12-18 00:00:00 UTC, and just before the next second.
    uint64_t dec18 = epoch + 819244800ull * 10000000;
    EXPECT_EQ(At(dec18), 819244800u);
    EXPECT_EQ(At(dec18 + 9999999), 819244800u);
    EXPECT_EQ(At(dec18 + 10000000), 819244801u);
    // 2038-01-19 03:14:08 UTC is past a signed 32-bit time; 2106-02-07
    // 06:28:16 UTC wraps the 32 bits; the second before 1970 wraps back.
    EXPECT_EQ(At(epoch + 2147483648ull * 10000000), 2147483648u);
    EXPECT_EQ(At(epoch + 4294967296ull * 10000000), 0u);
    EXPECT_EQ(At(epoch - 10000000), 0xFFFFFFFFu);
    // A low half with its top bit set must not be taken as negative.
    uint64_t ft = (uint64_t(0x01D0ABCD) << 32) | 0x80000000u; // in 2015
    EXPECT_EQ(At(ft), uint32_t(ft / 10000000 - 11644473600ull));
    // And back, to the second.
    EXPECT_EQ(At(UnixTimeToFileTime(1700000000u)), 1700000000u);
}

TEST(Entry, RequestBlockSize) {
    RequestRecord rec;
    EXPECT_EQ(RequestBlockSize(rec), 1024u);
    unsigned char extra[3] = {0x00, 0x64, 0x07};
    rec.extraData = extra;
    rec.extraLength = 1; // too short for a size: no preference
    EXPECT_EQ(RequestBlockSize(rec), 1024u);
    rec.extraLength = 3;
    EXPECT_EQ(RequestBlockSize(rec), 100u);
    extra[0] = 0x07, extra[1] = 0xD0; // 2000
    EXPECT_EQ(RequestBlockSize(rec), 1024u);
    extra[0] = 0, extra[1] = 0;
    EXPECT_EQ(RequestBlockSize(rec), 1024u);
    extra[1] = 1;
    EXPECT_EQ(RequestBlockSize(rec), 1u);
    extra[0] = 0x05, extra[1] = 0xB4; // 1460, up to the packet size
    EXPECT_EQ(RequestBlockSize(rec, 1452) + RequestBlockSize(rec, 4380), 1452u + 1460u);
}

TEST(Entry, RequestPathTextIsBoundedByTheData) {
    RequestRecord rec;
    char out[8];
    EXPECT_STREQ(RequestPathText(rec, out, sizeof(out)), "");
    unsigned char data[] = {'a', '/', 'b', 0, 'z'};
    rec.data = data;
    rec.dataLength = 5;
    EXPECT_STREQ(RequestPathText(rec, out, sizeof(out)), "a/b");
    rec.dataLength = 2; // no NUL among the bytes received
    EXPECT_STREQ(RequestPathText(rec, out, sizeof(out)), "a/");
    unsigned char many[20];
    std::memset(many, 'm', sizeof(many));
    rec.data = many;
    rec.dataLength = sizeof(many);
    EXPECT_STREQ(RequestPathText(rec, out, sizeof(out)), "mmmmmmm");
}

TEST(Blocks, EmptyDirectoryAndLeadingDots) {
    Bytes blk;
    ASSERT_TRUE(Block(Dir({}), 1024, 0, &blk));
    Bytes expected = kDots;
    expected.resize(36, 0);
    EXPECT_EQ(blk, expected);
    // Dot names take no room at all.
    ASSERT_TRUE(Block(Dir({".", "..", ".hidden", ".d"}), 1024, 0, &blk));
    EXPECT_EQ(blk, expected);
    // A position at or past the end of the stream: nothing.
    ASSERT_TRUE(Block(Dir({"a"}), 1024, 48, &blk));
    EXPECT_TRUE(blk.empty());
    ASSERT_TRUE(Block(Dir({"a"}), 1024, 0xFFFFFFFFu, &blk));
    EXPECT_TRUE(blk.empty());
}

TEST(Blocks, ExactFitCarriesNoMarker) {
    // "." and ".." (24) and a 24-byte entry fill 48 bytes exactly; the end
    // marker is the next block on its own.
    std::string name(14, 'e');
    Source src = Dir({name});
    Bytes blk;
    ASSERT_TRUE(Block(src, 48, 0, &blk));
    Bytes expected = kDots;
    Bytes e = Entry(name, kTypeFile, 1000000, 0);
    expected.insert(expected.end(), e.begin(), e.end());
    EXPECT_EQ(blk, expected);
    ASSERT_TRUE(Block(src, 48, 48, &blk));
    EXPECT_EQ(blk, Bytes(12, 0));

    // An end marker that fills the block exactly: the next request gets
    // an empty block, which ends the listing too.
    src = Dir({"a"}); // 12 bytes
    ASSERT_TRUE(Block(src, 48, 0, &blk));
    EXPECT_EQ(blk.size(), 48u);
    EXPECT_EQ(Bytes(blk.end() - 12, blk.end()), Bytes(12, 0));
    ASSERT_TRUE(Block(src, 48, 48, &blk));
    EXPECT_TRUE(blk.empty());
}

TEST(Blocks, NearFitsMoveTheEntryToTheNextBlock) {
    // Entries of 20 and 16 bytes after the 24 bytes of dots would leave 4
    // and 8 bytes, too few for a marker: the entry starts the next block.
    for (size_t nameLength : {10u, 6u}) {
        std::string name(nameLength, 'n');
        Source src = Dir({name, "z"});
        Bytes blk;
        ASSERT_TRUE(Block(src, 48, 0, &blk));
        ASSERT_EQ(blk.size(), 48u);
        EXPECT_EQ(Bytes(blk.begin(), blk.begin() + 24), kDots);
        Bytes marker(24, 0);
        marker[8] = kTypeSkip;
        EXPECT_EQ(Bytes(blk.begin() + 24, blk.end()), marker);
        ASSERT_TRUE(Block(src, 48, 48, &blk));
        Bytes expected = Entry(name, kTypeFile, 1000000, 0);
        Bytes z = Entry("z", kTypeFile, 1000001, 13);
        expected.insert(expected.end(), z.begin(), z.end());
        expected.resize(expected.size() + 12, 0);
        EXPECT_EQ(blk, expected) << nameLength;
    }
    // Leaving exactly 12 is fine: the entry stays and the marker follows.
    Source src = Dir({"a", std::string(20, 'b')});
    Bytes blk;
    ASSERT_TRUE(Block(src, 48, 0, &blk));
    ASSERT_EQ(blk.size(), 48u);
    EXPECT_EQ(blk[36 + 8], kTypeSkip);
}

TEST(Blocks, ClientsReadEveryEntryOnceAtAnyBlockSize) {
    struct Case {
        uint32_t block;
        size_t maxName;
    };
    for (Case c : {Case{1024, 255}, Case{512, 255}, Case{100, 78}, Case{1022, 200}, Case{12, 2},
                   Case{284, 259}}) {
        for (unsigned seed = 1; seed <= 10; ++seed) {
            std::vector<std::string> names = Names(seed * 17, c.maxName, seed);
            if (c.block == 12)
                for (size_t i = 0; i < names.size(); ++i) names[i] = std::string(1 + i % 2, char('a' + i % 26));
            names.push_back(".hidden");
            Source src = Dir(names);
            std::vector<size_t> lengths;
            Bytes stream = Fetch(src, c.block, &lengths);
            uint32_t b = c.block & ~3u;
            // Every block but the last is full.
            for (size_t i = 0; i + 1 < lengths.size(); ++i) ASSERT_EQ(lengths[i], b) << c.block;

            bool ended = false;
            std::vector<Read> got = Parse(stream, b, &ended);
            EXPECT_TRUE(ended) << c.block << " seed " << seed;
            ASSERT_EQ(got.size(), names.size() + 1) << c.block << " seed " << seed;
            EXPECT_EQ(got[0].name, ".");
            EXPECT_EQ(got[1].name, "..");
            for (size_t i = 0; i + 1 < names.size(); ++i) {
                const Read& r = got[i + 2];
                ASSERT_EQ(r.name, names[i]) << c.block << " seed " << seed;
                EXPECT_EQ(r.type, src.entries[i].isDir ? kTypeDir : kTypeFile);
                EXPECT_EQ(r.time, src.entries[i].unixTime);
                EXPECT_EQ(r.size, src.entries[i].isDir ? 0u : src.entries[i].size);
            }
        }
    }
}

TEST(Blocks, OnlyBlockStartsAreServed) {
    Source src = Dir(Names(300, 255, 7));
    Layout whole = Lay(src, 514); // laid out in 512-byte blocks
    ASSERT_EQ(whole.block, 512u);
    ASSERT_GT(whole.stream.size(), 512u * 10);
    for (uint32_t p : {0u, 512u, 1536u, uint32_t(whole.stream.size() / 512 * 512)}) {
        Bytes blk;
        ASSERT_TRUE(Block(src, 514, p, &blk)) << p;
        size_t n = std::min<size_t>(512, whole.stream.size() - p);
        EXPECT_EQ(blk, Bytes(whole.stream.begin() + p, whole.stream.begin() + long(p + n))) << p;
    }
    // Anywhere else inside the listing a reply would start inside an entry.
    for (uint32_t p : {7u, 514u, 600u, uint32_t(whole.stream.size() - 4)}) {
        Bytes blk;
        EXPECT_FALSE(Block(src, 514, p, &blk)) << p;
    }
    // At or past its end there is nothing, block start or not.
    for (uint32_t p : {uint32_t(whole.stream.size()), 0xFFFFFFFFu}) {
        Bytes blk;
        EXPECT_TRUE(Block(src, 514, p, &blk) && blk.empty()) << p;
    }
}

TEST(Blocks, ABlockTooSmallForAnEntryGivesFullSizeBlocks) {
    // An entry fits a block of b bytes when it fills it or leaves at least
    // 12 bytes for a marker: 100-byte blocks hold names of up to 78
    // characters (88 bytes) and of 87 to 90 (100 bytes), not of 79 to 86.
    std::vector<std::string> names = Names(200, 78, 3);
    names.push_back(std::string(87, 'F'));
    names.push_back(std::string(90, 'G'));
    EXPECT_EQ(Lay(Dir(names), 100).block, 100u);
    // One that fits nowhere, wherever it lies, lays the whole listing out
    // in 1024-byte blocks, which hold every entry.
    names.push_back(std::string(79, 'L'));
    std::vector<size_t> lengths;
    Bytes stream = Fetch(Dir(names), 100, &lengths);
    for (size_t i = 0; i + 1 < lengths.size(); ++i) EXPECT_EQ(lengths[i], kMaxPayload);
    bool ended = false;
    std::vector<Read> got = Parse(stream, kMaxPayload, &ended);
    EXPECT_TRUE(ended);
    ASSERT_EQ(got.size(), names.size() + 2);
    EXPECT_EQ(got.back().name, names.back());
    Bytes blk;
    EXPECT_FALSE(Block(Dir(names), 100, 100, &blk)) << "not a block start of 1024-byte blocks";
    // Blocks too small even for "." and the end marker.
    for (uint32_t b : {1u, 4u, 8u, 11u}) EXPECT_EQ(Lay(Dir({}), b).block, kMaxPayload) << b;
    // 12 bytes hold one short entry a block, and nothing longer.
    ASSERT_TRUE(Block(Dir({"ab"}), 12, 24, &blk));
    EXPECT_EQ(blk, Entry("ab", kTypeFile, 1000000, 0));
    EXPECT_EQ(Lay(Dir({"abc"}), 12).block, kMaxPayload);
    // From 284 bytes on every entry fits.
    EXPECT_EQ(Lay(Dir({std::string(kMaxName, 'x')}), kAnyEntryBlock).block, kAnyEntryBlock);
    EXPECT_EQ(Lay(Dir({std::string(kMaxName, 'x')}), kAnyEntryBlock - 4).block, kMaxPayload);
}
