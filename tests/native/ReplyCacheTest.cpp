#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/core/ClientTable.h"
#include "engine/core/Packet.h"
#include "engine/core/ReplyCache.h"

using namespace fsp;

namespace {
// A client key: port, then IPv4 address 10.0.0.address.
std::vector<unsigned char> C(int port, int address) {
    return {uint8_t(port >> 8), uint8_t(port), 10, 0, 0, uint8_t(address)};
}
} // namespace

TEST(ClientTable, BoundsPerAddressAndInAllDropTheLeastRecentlyUsed) {
    struct Step {
        char op; // i insert, f find, e expire
        int port, address;
        uint64_t now;
        std::vector<int> gone; // ports handed to gone, in order
    };
    // At most 2 per address, 3 in all, 100 ms idle.
    const std::vector<Step> steps{
        {'i', 1, 1, 0, {}},  {'i', 2, 1, 1, {}},   {'f', 1, 1, 2, {}},
        {'i', 3, 1, 3, {2}},                        // address 1 full: its oldest, port 2
        {'i', 4, 2, 4, {}},  {'i', 5, 3, 5, {1}},  // 3 in all: the oldest of all, port 1
        {'f', 3, 1, 6, {}},  {'e', 0, 0, 104, {4}}, // idle for 100 ms
        {'e', 0, 0, 200, {5, 3}},
    };
    ClientTable<int> t(3, 2, 100);
    for (const Step& s : steps) {
        std::vector<int> gone;
        auto Gone = [&](int& port) { gone.push_back(port); };
        auto key = C(s.port, s.address);
        if (s.op == 'i') *t.Insert(key.data(), s.now, Gone) = s.port;
        if (s.op == 'f') ASSERT_NE(t.Find(key.data(), s.now), nullptr) << s.port;
        if (s.op == 'e') t.Expire(s.now, Gone);
        EXPECT_EQ(gone, s.gone) << s.op << s.port;
    }
    EXPECT_EQ(t.Count(), 0u);
    auto k = C(7, 7);
    *t.Insert(k.data(), 0, [](int&) {}) = 7;
    EXPECT_EQ(*t.Find(k.data(), 1), 7);
    EXPECT_EQ(t.Find(C(7, 8).data(), 1), nullptr); // same port, other address
    t.Remove(k.data(), [](int&) {});
    EXPECT_EQ(t.Find(k.data(), 1), nullptr);
}

namespace {
struct Fixture {
    ReplyCache cache;
    std::vector<unsigned char> Req(uint8_t cmd, uint16_t key, uint16_t seq, const std::string& path) {
        std::vector<unsigned char> p(12, 0);
        p[0] = cmd;
        PutU16(&p[2], key);
        PutU16(&p[4], seq);
        PutU16(&p[6], uint32_t(path.size() + 1));
        p.insert(p.end(), path.begin(), path.end());
        p.push_back(0);
        p[1] = uint8_t(CalcChecksum(p.data(), int(p.size()), 0));
        return p;
    }
    void Keep(const std::vector<unsigned char>& client, const std::vector<unsigned char>& req,
              uint8_t replyCode, std::vector<const char*> paths, uint64_t now = 0) {
        unsigned char reply[kMaxPacket];
        int m = BuildReply(reply, replyCode, GetU16(&req[2]) + 1, GetU16(&req[4]), 0, nullptr, 0, nullptr, 0);
        cache.Keep(client.data(), req.data(), int(req.size()), reply, m, now, paths.data(), int(paths.size()));
    }
    // The sequence number of the kept answer to req, or -1.
    int Answer(const std::vector<unsigned char>& client, const std::vector<unsigned char>& req, uint64_t now = 1) {
        unsigned char out[kMaxPacket];
        int m = cache.Answer(client.data(), req.data(), int(req.size()), now, out);
        if (!m) return -1;
        EXPECT_EQ(out[1], CalcChecksum(out, m, 1));
        return GetU16(out + 4);
    }
};
} // namespace

TEST(ReplyCache, KeepsWorkDoneUntilItsPathChanges) {
    Fixture f;
    auto a = C(1000, 1), b = C(1001, 1);
    auto del = f.Req(CC_DEL_FILE, 7, 1, "f");
    f.Keep(a, del, CC_DEL_FILE, {"Z:\\r\\f"});
    // A resend with another sequence number gets the kept reply, with its own.
    EXPECT_EQ(f.Answer(a, f.Req(CC_DEL_FILE, 7, 2, "f")), 2);
    EXPECT_EQ(f.Answer(a, f.Req(CC_DEL_FILE, 8, 2, "f")), -1); // another key
    EXPECT_EQ(f.Answer(b, del), -1);                           // another client
    EXPECT_EQ(f.Answer(a, del, ReplyCache::kLifetimeMs + 1), -1); // expired
    EXPECT_EQ(f.cache.Count(), 0u);

    // Any later change of the path, or of a directory above it, in any
    // case, forgets it; a change beside it does not.
    struct Case {
        const char* changed;
        bool forgotten;
    } cases[]{{"Z:\\r\\f", true}, {"z:\\R\\F", true}, {"Z:\\r", true},    {"Z:\\r\\f2", false},
              {"Z:\\r\\e", false}, {"Z:\\r\\f\\x", false}, {"Z:\\r!", false}};
    for (const Case& c : cases) {
        f.Keep(a, del, CC_DEL_FILE, {"Z:\\r\\f"});
        f.cache.Forget(c.changed);
        EXPECT_EQ(f.Answer(a, del) == -1, c.forgotten) << c.changed;
    }
    // A rename is forgotten by a change of either path.
    auto ren = f.Req(CC_RENAME, 3, 1, "x");
    for (const char* changed : {"Z:\\r\\x", "Z:\\r\\y"}) {
        f.Keep(b, ren, CC_RENAME, {"Z:\\r\\x", "Z:\\r\\y"});
        f.cache.Forget(changed);
        EXPECT_EQ(f.Answer(b, ren), -1) << changed;
    }
}

TEST(ReplyCache, RefusalsAndFailuresAreNeverReplayed) {
    Fixture f;
    auto a = C(1000, 1);
    auto mk = f.Req(CC_MAKE_DIR, 7, 1, "d");
    f.Keep(a, mk, CC_ERR, {});
    EXPECT_EQ(f.Answer(a, mk), -1);
    // A failure after work done forgets the work's reply too: it is no
    // longer the client's last request.
    f.Keep(a, mk, CC_MAKE_DIR, {"Z:\\r\\d"});
    EXPECT_EQ(f.Answer(a, mk), 1);
    f.Keep(a, f.Req(CC_DEL_FILE, 8, 2, "g"), CC_ERR, {});
    EXPECT_EQ(f.Answer(a, mk), -1);
    EXPECT_EQ(f.cache.Count(), 0u);
}
