#include <gtest/gtest.h>

#include <vector>

#include "engine/core/Packet.h"
#include "engine/core/ReplyCache.h"

using namespace fsp;

namespace {
// A client key: port, then the IPv4 address 10.0.0.address.
std::vector<unsigned char> C(int port, int address) { return {uint8_t(port >> 8), uint8_t(port), 10, 0, 0, uint8_t(address)}; }
} // namespace

TEST(ClientTable, BoundsPerAddressAndInAllDropTheLeastRecentlyUsedThenTheIdle) {
    struct Step { char op; int port, address; uint64_t now; std::vector<int> gone; };
    ClientTable<int> t(3, 2, 100); // 2 per address, 3 in all, 100 ms idle
    for (const Step& s : std::vector<Step>{{'i', 1, 1, 0, {}}, {'i', 2, 1, 1, {}}, {'f', 1, 1, 2, {}},
                                           {'i', 3, 1, 3, {2}}, {'i', 4, 2, 4, {}}, {'i', 5, 3, 5, {1}},
                                           {'f', 3, 1, 6, {}}, {'e', 0, 0, 104, {4}}, {'e', 0, 0, 200, {5, 3}}}) {
        std::vector<int> gone;
        auto key = C(s.port, s.address);
        auto Gone = [&](int& port) { gone.push_back(port); };
        if (s.op == 'i') *t.Insert(key.data(), s.now, Gone) = s.port;
        if (s.op == 'f') EXPECT_EQ(t.Find(key.data(), s.now) ? *t.Find(key.data(), s.now) : 0, s.port);
        if (s.op == 'e') t.Expire(s.now, Gone);
        EXPECT_EQ(gone, s.gone) << s.op << s.port;
    }
    EXPECT_EQ(t.Count(), 0u);
    // Full and keeping others: a new address gets no room, a known one
    // gives up its own oldest.
    ClientTable<int> k(2, 2, 100, true);
    auto Put = [&](int port, int address) { int* v = k.Insert(C(port, address).data(), 0, [](int&) {}); return v ? (*v = port) : 0; };
    EXPECT_EQ(Put(1, 1) + Put(2, 2) + Put(3, 3), 3);
    EXPECT_EQ(Put(4, 1), 4);
    EXPECT_TRUE(k.Find(C(2, 2).data(), 1) && !k.Find(C(1, 1).data(), 1));
}

TEST(ReplyCache, KeepsOnlyWorkDoneAndForgetsItWhenItsPathChanges) {
    ReplyCache cache;
    auto a = C(1000, 1);
    auto Req = [](uint8_t cmd, uint8_t seq) { return std::vector<unsigned char>{cmd, 0, 0, 7, 0, seq, 0, 2, 0, 0, 0, 0, 'f', 0}; };
    auto Keep = [&](uint8_t cmd, uint8_t replyCode, std::vector<const char*> paths) {
        unsigned char reply[kMaxPacket];
        int m = BuildReply(reply, replyCode, 8, 1, 0, nullptr, 0, nullptr, 0);
        cache.Keep(a.data(), Req(cmd, 1).data(), 14, reply, m, 0, paths.data(), int(paths.size()));
    };
    auto Resent = [&](uint8_t cmd, uint64_t now) { // answered from memory, with its own sequence number
        unsigned char out[kMaxPacket];
        return cache.Answer(a.data(), Req(cmd, 2).data(), 14, now, out) > 0 && out[5] == 2;
    };
    struct Case { uint8_t reply; std::vector<const char*> kept; const char* changed; uint64_t at; bool resent; };
    for (const Case& c : std::vector<Case>{{CC_DEL_FILE, {"Z:\\r\\f"}, "Z:\\r\\f2", 1, true}, // a change beside it
                                           {CC_DEL_FILE, {"Z:\\r\\f"}, "Z:\\r!", 1, true},
                                           {CC_ERR, {}, nullptr, 1, false}, // a refusal or failure
                                           {CC_DEL_FILE, {"Z:\\r\\f"}, nullptr, ReplyCache::kLifetimeMs, false},
                                           {CC_DEL_FILE, {"Z:\\r\\f"}, "Z:\\r", 1, false},    // the directory above
                                           {CC_RENAME, {"Z:\\r\\x", "Z:\\r\\y"}, "Z:\\r\\y", 1, false}}) {
        Keep(CC_DEL_FILE, c.reply, c.kept);
        if (c.changed) cache.Forget(c.changed);
        EXPECT_EQ(Resent(CC_DEL_FILE, c.at), c.resent) << c.changed;
    }
    // Another command is no resend; a failure forgets the work kept before it.
    Keep(CC_DEL_FILE, CC_DEL_FILE, {});
    EXPECT_FALSE(Resent(CC_DEL_DIR, 1));
    Keep(CC_MAKE_DIR, CC_ERR, {});
    EXPECT_FALSE(Resent(CC_DEL_FILE, 1));
}

// Between an install and its resend, a flood of pieces and of changes from
// other addresses (as many as both memories hold) pushes nothing out; one
// address's own flood pushes out only its own oldest.
TEST(ReplyCache, NoOtherAddressPushesAKeptChangeOut) {
    ReplyCache cache;
    unsigned char reply[kMaxPacket], out[kMaxPacket];
    auto Req = [](uint8_t cmd, uint8_t seq) { return std::vector<unsigned char>{cmd, 0, 0, 7, 0, seq, 0, 2, 0, 0, 0, 0, 'f', 0}; };
    auto Keep = [&](const std::vector<unsigned char>& c, uint8_t cmd, uint64_t now) {
        int m = BuildReply(reply, cmd, 8, 1, 0, nullptr, 0, nullptr, 0);
        cache.Keep(c.data(), Req(cmd, 1).data(), 14, reply, m, now, nullptr, 0);
    };
    auto a = C(1000, 1);
    Keep(a, CC_INSTALL, 0);
    for (int i = 0; i < 2 * int(ReplyCache::kMaxChanges); ++i) {
        Keep(C(2000 + i, 2 + i % 64), CC_UP_LOAD, 1);
        Keep(C(2000 + i, 2 + i % 64), CC_MAKE_DIR, 1);
    }
    EXPECT_GT(cache.Answer(a.data(), Req(CC_INSTALL, 2).data(), 14, ReplyCache::kLifetimeMs - 1, out), 0);
    for (int i = 0; i < int(ReplyCache::kMaxPerAddress); ++i) Keep(C(3000 + i, 1), CC_DEL_FILE, 2);
    EXPECT_EQ(cache.Answer(a.data(), Req(CC_INSTALL, 2).data(), 14, 3, out), 0);
}
