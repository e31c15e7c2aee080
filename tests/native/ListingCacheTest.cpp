#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/core/ListingCache.h"

using namespace fsp;

namespace {
struct Dir {
    std::vector<std::string> names;
    size_t next = 0;
};

int Next(void* context, DirEntry* e) {
    Dir* d = static_cast<Dir*>(context);
    if (d->next == d->names.size()) return 0;
    const std::string& n = d->names[d->next];
    e->isDir = d->next % 7 == 0;
    e->unixTime = uint32_t(819244800 + d->next);
    e->size = uint32_t(d->next * 31);
    e->name = n.c_str();
    ++d->next;
    return 1;
}

Dir MakeDir(size_t count) {
    Dir d;
    for (size_t i = 0; i < count; ++i) d.names.push_back(i % 11 == 0 ? ".hidden" + std::to_string(i)
                                                          : std::string(1 + (i * 37) % 70, char('a' + i % 26)));
    return d;
}
} // namespace

TEST(ListingCache, AKeptListingServesExactlyTheBlocksAnEnumerationWould) {
    for (uint32_t b : {1024u, 512u, 300u, 100u}) {
        Dir dir = MakeDir(700);
        EntryList list;
        DirEntry e;
        while (Next(&dir, &e)) list.Add(e);
        std::vector<unsigned char> stream;
        ASSERT_EQ(list.LayOut(b, &stream), 1) << b;
        ASSERT_GT(stream.size(), 10u * b);
        // Every block as a client reads them, and a few positions nobody
        // would ask for, against a fresh enumeration of each.
        for (uint32_t pos = 0; pos < stream.size() + 2 * b; pos += (pos % 3 ? b : b / 2 + 4)) {
            unsigned char fresh[1024], kept[1024];
            Dir again = dir;
            again.next = 0;
            int n = BuildBlock(fresh, b, pos, Next, &again);
            int m = SliceListing(stream, b, pos, kept);
            ASSERT_EQ(m, n) << "b=" << b << " pos=" << pos;
            ASSERT_EQ(std::vector<unsigned char>(kept, kept + m), std::vector<unsigned char>(fresh, fresh + n));
        }
    }
}

TEST(ListingCache, RefusesWhatTheEnumerationRefuses) {
    Dir dir;
    dir.names = {std::string(200, 'l')};
    EntryList list;
    DirEntry e;
    while (Next(&dir, &e)) list.Add(e);
    std::vector<unsigned char> stream;
    EXPECT_EQ(list.LayOut(100, &stream), -1);
    unsigned char block[1024];
    dir.next = 0;
    EXPECT_EQ(BuildBlock(block, 100, 0, Next, &dir), -1);
}

TEST(ListingCache, KeysAndBoundsHold) {
    const unsigned char a[6] = {0, 21, 127, 0, 0, 1}, b[6] = {0, 22, 127, 0, 0, 1};
    ListingCache cache(1000, 3);
    cache.Store(a, "Z:\\r\\d", 1024, std::vector<unsigned char>(400, 1));
    EXPECT_EQ(cache.Find(b, "Z:\\r\\d", 1024), nullptr); // another port
    EXPECT_EQ(cache.Find(a, "Z:\\r\\e", 1024), nullptr); // another directory
    EXPECT_EQ(cache.Find(a, "Z:\\r\\d", 512), nullptr);  // another block size
    ASSERT_NE(cache.Find(a, "Z:\\r\\d", 1024), nullptr);

    // Replacing a key does not count twice.
    cache.Store(a, "Z:\\r\\d", 1024, std::vector<unsigned char>(500, 2));
    EXPECT_EQ(cache.Bytes(), 500u);
    EXPECT_EQ((*cache.Find(a, "Z:\\r\\d", 1024))[0], 2);

    // Over the byte budget the least recently used goes first.
    cache.Store(b, "Z:\\r\\d", 1024, std::vector<unsigned char>(400, 3));
    cache.Find(a, "Z:\\r\\d", 1024);
    cache.Store(b, "Z:\\r\\x", 1024, std::vector<unsigned char>(400, 4));
    EXPECT_LE(cache.Bytes(), 1000u);
    EXPECT_NE(cache.Find(a, "Z:\\r\\d", 1024), nullptr);
    EXPECT_EQ(cache.Find(b, "Z:\\r\\d", 1024), nullptr);

    // Over the count bound too; and a listing larger than the budget is
    // simply not kept.
    cache.Store(a, "1", 4, std::vector<unsigned char>(10));
    cache.Store(a, "2", 4, std::vector<unsigned char>(10));
    cache.Store(a, "3", 4, std::vector<unsigned char>(10));
    EXPECT_EQ(cache.Count(), 3u);
    cache.Store(a, "big", 4, std::vector<unsigned char>(1001));
    EXPECT_EQ(cache.Find(a, "big", 4), nullptr);
    EXPECT_LE(cache.Bytes(), 1000u);
}

TEST(ListingCache, BlockSizesAboveOneReplyAreCutToIt) {
    Dir dir = MakeDir(300);
    unsigned char block[kMaxBlock]; // ASan reports any write past it
    EXPECT_EQ(BuildBlock(block, 4000, 0, Next, &dir), int(kMaxBlock));
    std::vector<unsigned char> stream(5000, 7);
    EXPECT_EQ(SliceListing(stream, 4000, 0, block), int(kMaxBlock));
}
