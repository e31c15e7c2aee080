#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/core/ListingCache.h"

using namespace fsp;

namespace {
EntryList MakeEntries(size_t count, size_t nameLength = 20) {
    EntryList list;
    std::vector<std::string> names;
    for (size_t i = 0; i < count; ++i) {
        std::string name = std::to_string(i) + "_" + std::string(nameLength, 'n');
        DirEntry e;
        e.isDir = i % 7 == 0;
        e.unixTime = uint32_t(819244800 + i);
        e.size = uint32_t(i * 31);
        e.name = name.c_str();
        list.Add(e); // copies the name
    }
    return list;
}
} // namespace

TEST(ListingCache, PositionZeroTakesOnlyAYoungListingOfAnUnchangedDirectory) {
    ListingCache cache(1 << 20, 8);
    ListingCache::Listing* l = cache.Store("Z:\\r\\d", MakeEntries(10), 5000, 777);
    EXPECT_EQ(cache.Find("Z:\\r\\d"), l); // whoever asks
    EXPECT_EQ(cache.Find("Z:\\r\\e"), nullptr);
    EXPECT_TRUE(ListingCache::Fresh(*l, 5000 + ListingCache::kYoungMs - 1, 777));
    EXPECT_FALSE(ListingCache::Fresh(*l, 5000 + ListingCache::kYoungMs, 777));
    EXPECT_FALSE(ListingCache::Fresh(*l, 5001, 778)); // the directory changed
    EXPECT_FALSE(ListingCache::Fresh(*l, 4999, 777)); // a clock that went back
    // A directory whose time could not be trusted is never taken again.
    l = cache.Store("Z:\\r\\d", MakeEntries(10), 5000, 0);
    EXPECT_FALSE(ListingCache::Fresh(*l, 5000, 0));
    EXPECT_EQ(cache.Count(), 1u);
}

TEST(ListingCache, LayoutsAreMadeOncePerBlockSizeAndBounded) {
    ListingCache cache(1 << 20, 8);
    ListingCache::Listing* l = cache.Store("d", MakeEntries(300), 0, 1);
    const Layout* a = cache.LayoutFor(l, 1024);
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(cache.LayoutFor(l, 1024), a);
    EXPECT_EQ(cache.LayoutFor(l, 5000)->block, kMaxReplyPayload); // one reply at most
    const Layout* b = cache.LayoutFor(l, 102);
    EXPECT_EQ(b->block, 100u);
    EXPECT_EQ(cache.LayoutFor(l, 100), b); // the same blocks
    size_t withTwo = cache.Bytes();
    EXPECT_GT(withTwo, a->stream.size() + b->stream.size());
    for (uint32_t size : {200u, 300u, 400u, 500u}) cache.LayoutFor(l, size);
    EXPECT_EQ(l->layouts.size(), ListingCache::kLayoutsPerListing);
    size_t kept = l->entries.Bytes() + l->dir.capacity();
    for (const Layout& x : l->layouts) kept += x.stream.capacity();
    EXPECT_EQ(cache.Bytes(), kept);

    // A block size too small for an entry: 1024-byte blocks.
    l = cache.Store("long", MakeEntries(5, 200), 0, 1);
    EXPECT_EQ(cache.LayoutFor(l, 100)->block, kMaxPayload);
}

TEST(ListingCache, BoundsDropTheLeastRecentlyUsed) {
    size_t one = 0;
    {
        ListingCache probe(1 << 20, 8);
        probe.LayoutFor(probe.Store("x", MakeEntries(100), 0, 1), 1024);
        one = probe.Bytes();
    }
    ListingCache cache(one * 2 + one / 2, 3);
    cache.LayoutFor(cache.Store("a", MakeEntries(100), 0, 1), 1024);
    cache.LayoutFor(cache.Store("b", MakeEntries(100), 0, 1), 1024);
    cache.Find("a");
    cache.LayoutFor(cache.Store("c", MakeEntries(100), 0, 1), 1024);
    cache.Trim();
    EXPECT_LE(cache.Bytes(), one * 2 + one / 2);
    EXPECT_NE(cache.Find("a"), nullptr);
    EXPECT_EQ(cache.Find("b"), nullptr);
    EXPECT_NE(cache.Find("c"), nullptr);

    // Replacing a listing does not count it twice.
    cache.LayoutFor(cache.Store("c", MakeEntries(100), 0, 1), 1024);
    cache.Trim();
    EXPECT_EQ(cache.Count(), 2u);

    // The count bound; and a listing larger than the whole budget is not
    // kept past the request it served.
    for (const char* d : {"1", "2", "3"}) cache.Store(d, MakeEntries(1), 0, 1);
    cache.Trim();
    EXPECT_EQ(cache.Count(), 3u);
    cache.LayoutFor(cache.Store("big", MakeEntries(1000), 0, 1), 1024);
    cache.Trim();
    EXPECT_EQ(cache.Find("big"), nullptr);
    EXPECT_LE(cache.Bytes(), one * 2 + one / 2);
}
