#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "engine/core/Packet.h"
#include "engine/core/Paths.h"
#include "engine/core/HostTable.h"
#include "engine/core/NameCache.h"
#include "engine/core/Policy.h"
#include "engine/core/Sessions.h"
#include "engine/core/Throughput.h"

using namespace fsp;

TEST(Policy, ThreeLevelsOverEveryCommand) {
    struct Row {
        uint8_t code;
        int readOnly, upload, full;
    } rows[] = {
        {CC_VERSION, 1, 1, 1},   {CC_GET_DIR, 1, 1, 1},  {CC_GET_FILE, 1, 1, 1},
        {CC_UP_LOAD, 0, 1, 1},   {CC_INSTALL, 0, 1, 1},  {CC_DEL_FILE, 0, 0, 1},
        {CC_DEL_DIR, 0, 0, 1},   {CC_GET_PRO, 1, 1, 1},  {CC_SET_PRO, 0, 0, 0},
        {CC_MAKE_DIR, 0, 1, 1},  {CC_BYE, 1, 1, 1},      {CC_GRAB_FILE, 0, 0, 0},
        {CC_GRAB_DONE, 0, 0, 0}, {CC_STAT, 1, 1, 1},     {CC_RENAME, 0, 0, 1},
    };
    for (const Row& r : rows) {
        const CommandPolicy* p = FindPolicy(r.code);
        ASSERT_NE(p, nullptr) << int(r.code);
        EXPECT_EQ(Allowed(p->access, 0, 0), r.readOnly) << int(r.code);
        EXPECT_EQ(Allowed(p->access, 1, 0), r.upload) << int(r.code);
        EXPECT_EQ(Allowed(p->access, 0, 8), r.full) << int(r.code);
        EXPECT_EQ(Allowed(p->access, 8, 1), r.full) << int(r.code);
        // Without access files a directory's rights are exactly the level.
        if (p->need != Need::None && p->need != Need::Upload)
            for (auto [u, rw] : {std::pair{0, 0}, {1, 0}, {0, 1}})
                EXPECT_EQ(Permitted(p->need, DirectoryRights(u, rw, 0)), Allowed(p->access, u, rw)) << int(r.code);
    }
    for (int code : {0x00, 0x20, 0x40, 0x4F, 0xFF}) EXPECT_EQ(FindPolicy(uint8_t(code)), nullptr);
}

TEST(Policy, FlagAndProtectionBytes) {
    EXPECT_EQ(ServerFlagByte(1, 1, 0, 0, 0, 0), 0x21); // first-run defaults
    EXPECT_EQ(ServerFlagByte(1, 0, 0, 0, 0, 0), 0x23);
    EXPECT_EQ(ServerFlagByte(0, 0, 1, 0, 0, 0), 0x20);
    EXPECT_EQ(ServerFlagByte(8, 0, 0, 8, 8, 8), 0x3F);
    unsigned char x[8];
    ASSERT_EQ(VersionExtras(x, 0x23, 0, 1452), 3);
    EXPECT_EQ(std::vector<int>(x, x + 3), (std::vector<int>{0x23, 0x05, 0xAC}));
    ASSERT_EQ(VersionExtras(x, 0x30, 1000000, 4380), 7);
    EXPECT_EQ(std::vector<int>(x, x + 7), (std::vector<int>{0x30, 0x00, 0x0F, 0x42, 0x40, 0x11, 0x1C}));
    // The level's rights, plus and minus a directory's files.
    struct Row { int u, rw; unsigned files; int protection; } rows[] = {
        {0, 0, 0, 0x60}, {1, 0, 0, 0x6C}, {0, 1, 0, 0xEE}, {8, 8, 0, 0xEE},
        {0, 0, kOkAdd | kOkDel | kOkMkdir | kOkRename, 0xEE}, {0, 0, kOkAdd, 0x64},
        {0, 0, kNoGet | kNoList, 0x30}, {0, 1, kNoList | kOkAdd, 0xAE},
    };
    for (const Row& r : rows) EXPECT_EQ(ProtectionByte(DirectoryRights(r.u, r.rw, r.files)), r.protection) << r.files;
    EXPECT_EQ(RefusingRule(Need::Add, 0, 0, 1, kOkDel), "read-only level, no .FSP_OK_ADD");
    EXPECT_EQ(RefusingRule(Need::Get, 0, 1, 1, kNoGet), ".FSP_NO_GET");
    // The directory a path is in, and the brief notes of access files.
    char out[16];
    for (auto [path, parent] : std::vector<std::pair<const char*, const char*>>{
             {"swiss/game.iso", "swiss/"}, {"/a\\b/c/", "/a\\b/"}, {"f", ""}, {"/", ""},
             {"", ""}, {"d/./", ""}, {"d/e/.", "d/"}})
        EXPECT_STREQ(ParentPath(path, out, sizeof(out)), parent) << path;
    AccessFileCache cache;
    cache.Keep("Z:\\srv", kOkAdd, 1000);
    EXPECT_EQ(cache.Find("Z:\\srv", 1000 + AccessFileCache::kMaxAgeMs - 1), int(kOkAdd));
    EXPECT_EQ(cache.Find("Z:\\srv", 1000 + AccessFileCache::kMaxAgeMs), -1);
    for (size_t i = 0; i < 2 * AccessFileCache::kMaxDirs; ++i) cache.Keep(std::to_string(i), 0, 2000);
    EXPECT_EQ(cache.Find(std::to_string(2 * AccessFileCache::kMaxDirs - 1), 2000), 0);
}

namespace {
std::string Clean(std::string s) {
    char buf[512];
    std::strcpy(buf, s.c_str());
    char* r = CleanPath(buf);
    return r ? std::string(buf) : "<null>";
}
std::string Local(const char* root, const char* path) {
    char out[kMaxLocalPath];
    return BuildLocalPath(out, root, path) ? std::string(out) : "<refused>";
}
} // namespace

TEST(Paths, CleanPathNormalisesOnceAtEachEnd) {
    EXPECT_EQ(Clean(""), "<null>");
    EXPECT_EQ(Clean("/pub/docs/"), "pub\\docs");
    EXPECT_EQ(Clean("C:\\\\pub\\docs"), "C:\\\\pub\\docs");
    EXPECT_EQ(Clean("//a//"), "\\a\\");
    EXPECT_EQ(Clean("C:\\"), "C:");
    EXPECT_EQ(Clean("\\"), "");
}

TEST(Paths, LocalPathsStayUnderTheRoot) {
    EXPECT_EQ(Local("C:\\", "/pub/docs"), "C:\\pub\\docs");
    // The root itself, however it is named, is given as it stands.
    for (const char* p : {"", "/", "\\", ".", "./", "/./.", "//"}) {
        EXPECT_EQ(Local("C:\\", p), "C:\\") << p;
        EXPECT_EQ(NamesEntry(p), 0) << p;
    }
    EXPECT_EQ(Local("Z:\\srv\\", "a/b.txt"), "Z:\\srv\\a\\b.txt");
    EXPECT_EQ(Local("Z:\\srv\\", "./sub/./f"), "Z:\\srv\\sub\\f");
    EXPECT_EQ(Local("Z:\\srv\\", "a//b\\\\c/"), "Z:\\srv\\a\\b\\c");
    // Two dots are refused only as a whole name.
    EXPECT_EQ(Local("Z:\\srv\\", "a..b"), "Z:\\srv\\a..b");
    EXPECT_EQ(Local("Z:\\srv\\", "..x/y"), "Z:\\srv\\..x\\y");
    for (const char* p : {"..", "../x", "/a/../b", "a/..", "a\\..\\..\\x", "./.."})
        EXPECT_EQ(Local("Z:\\srv\\", p), "<refused>") << p;
    // A root without its final backslash still gets a separator, and the
    // root is the operator's: two dots in it are not judged.
    EXPECT_EQ(Local("Z:\\data", "x"), "Z:\\data\\x");
    EXPECT_EQ(Local("Z:\\srv..\\", "x"), "Z:\\srv..\\x");
    EXPECT_EQ(Local("", "x"), "<refused>");
    // Characters no file name holds: another drive, a stream of a file,
    // wildcards, controls.
    for (const char* p : {"C:/x", "a.txt:hidden", "*.txt", "a?", "a<b", "a>b", "a|b", "a\"b", "a\tb"})
        EXPECT_EQ(Local("Z:\\srv\\", p), "<refused>") << p;
    // Names travel as UTF-8; anything else is refused, since the platform
    // would turn it into some other name.
    EXPECT_EQ(Local("Z:\\srv\\", "caf\xC3\xA9/\xD0\x96.txt"), "Z:\\srv\\caf\xC3\xA9\\\xD0\x96.txt");
    EXPECT_EQ(Local("Z:\\srv\\", "\xF0\x9F\x98\x80"), "Z:\\srv\\\xF0\x9F\x98\x80");
    for (const char* p : {"caf\xE9", "\xC0\xAE\xC0\xAE/x", "\xE0\x80\xAE", "\xED\xA0\x80", "\xF4\x90\x80\x80",
                          "\x80", "\xC3"})
        EXPECT_EQ(Local("Z:\\srv\\", p), "<refused>") << p;
    // The upload folder is no name a client may use, anywhere.
    // Nor the hidden copy of an install, in any spelling.
    // Nor an access file or a readme, in any case.
    for (const char* p : {"UPLOADS.FSP", "uploads.fsp/U0000001.TMP", "a/Uploads.Fsp/x",
                          ".vfspd-0123456789abcdef.part", "a/.VFSPD-x.PART", ".vfspd-.part/x",
                          ".FSP_OK_ADD", "swiss/.fsp_ok_del", ".Fsp_anything/x", ".README", "a/.readme"})
        EXPECT_EQ(Local("Z:\\srv\\", p), "<refused>") << p;
    for (const char* p : {"UPLOADS.FSPX", ".vfspd-1.partx", "x.vfspd-1.part", ".vfspd.part", ".FSPX",
                          "x.FSP_OK_ADD", ".README.txt", "README"})
        EXPECT_EQ(Local("Z:\\srv\\", p), std::string("Z:\\srv\\") + p) << p;

    std::string root = "Z:\\";
    std::string fits(kMaxLocalPath - 1 - root.size(), 'n');
    EXPECT_EQ(Local(root.c_str(), fits.c_str()).size(), size_t(kMaxLocalPath - 1));
    EXPECT_EQ(Local(root.c_str(), (fits + "n").c_str()), "<refused>");
    std::string longRoot(kMaxPath, 'r');
    EXPECT_EQ(Local(longRoot.c_str(), "x"), "<refused>");
}

TEST(Paths, DeviceNamesAreRefusedAnywhereAlongThePath) {
    for (const char* p : {"CON", "PRN", "AUX", "NUL", "COM1", "COM9", "LPT1", "LPT9", "con", "nUl",
                          "Lpt3", "con.txt", "NUL.tar.gz", "aux.", "nul .txt", "com1 ", "sub/NUL",
                          "sub\\con.log", "NUL/x", "/prn", "a/b/lpt2.dat/c"})
        EXPECT_EQ(Local("Z:\\srv\\", p), "<refused>") << p;
    // Names that only begin or end like a device name are files.
    for (const char* p : {"CONSOLE", "null", "COM0", "COM10", "LPT", "xcon.txt", "my.con", "nul_"})
        EXPECT_EQ(Local("Z:\\srv\\", p), std::string("Z:\\srv\\") + p) << p;
    // The root itself is the operator's and is not judged.
    EXPECT_EQ(Local("Z:\\NUL\\", "x"), "Z:\\NUL\\x");
}

TEST(Paths, NamesEndingInADotOrABlankAreRefused) {
    // The platform drops them and would open another name than the one
    // asked for: "f." is "f", "sub./x" is "sub\x".
    for (const char* p : {"f.", "f ", "dir.", "dir./", "f. .", "f .", "sub./inner.txt",
                          "sub /inner.txt", "...", " ", "a\\b. \\c"})
        EXPECT_EQ(Local("Z:\\srv\\", p), "<refused>") << p;
    // Dots and blanks elsewhere in a name are part of it.
    for (const char* p : {".hidden", "a.b.c", " lead", "two words.txt"})
        EXPECT_EQ(Local("Z:\\srv\\", p), std::string("Z:\\srv\\") + p) << p;
    EXPECT_EQ(Local("Z:\\srv.\\", "x"), "Z:\\srv.\\x");
}

TEST(Paths, UsableRoots) {
    for (const auto& [root, usable] : std::vector<std::pair<std::string, int>>{
             {"C:\\", 1}, {"c:\\files", 1}, {"\\\\srv\\share\\d", 1}, {"C:\\" + std::string(255, 'r'), 1},
             {"", 0}, {"files", 0}, {"C:files", 0}, {"C:\\a\\..\\b", 0}, {"C:\\f:s", 0}, {"\\\\.\\C:", 0},
             {"\\\\srv\\", 0}, {"C:\\" + std::string(256, 'r'), 0}})
        EXPECT_EQ(UsableRoot(root.c_str()), usable) << root;
}

namespace {
uint32_t Ip(const char* dotted) {
    unsigned a, b, c, d;
    std::sscanf(dotted, "%u.%u.%u.%u", &a, &b, &c, &d);
    return a << 24 | b << 16 | c << 8 | d;
}
} // namespace

TEST(HostTable, FirstMatchingRuleDecidesAndBadRulesFailClosed) {
    HostTable t;
    std::string bad;
    ASSERT_TRUE(t.Set({"127.0.0.5 D Go away", "", "10.1.0.0/16 I", "10.0.0.0/8 n", "192.168.1.10-192.168.2.3 D",
                       "134.225.*.1-3 N", "0.0.0.0/0 i"},
                      &bad)) << bad;
    const char* message = nullptr;
    struct { const char* address; HostAction action; const char* message; } cases[] = {
        {"127.0.0.5", HostAction::Deny, "Go away"},   {"10.1.2.3", HostAction::Ignore, nullptr},
        {"10.2.0.0", HostAction::Serve, nullptr},     {"192.168.1.255", HostAction::Deny, kDeniedText},
        {"192.168.2.4", HostAction::Ignore, nullptr}, {"134.225.9.3", HostAction::Serve, nullptr},
        {"134.225.9.4", HostAction::Ignore, nullptr},
    };
    for (const auto& c : cases) {
        message = nullptr;
        EXPECT_EQ(t.Decide(Ip(c.address), 0, &message), c.action) << c.address;
        if (c.message) EXPECT_STREQ(message, c.message) << c.address;
    }
    // No rule: served, unless in privilege mode.
    ASSERT_TRUE(t.Set({"10.0.0.1 N"}, &bad));
    EXPECT_EQ(t.Decide(Ip("10.0.0.2"), 0, nullptr), HostAction::Serve);
    EXPECT_EQ(t.Decide(Ip("10.0.0.2"), 8, nullptr), HostAction::Ignore);
    EXPECT_EQ(t.Decide(Ip("10.0.0.1"), 8, nullptr), HostAction::Serve);
    // Each bad rule is named with its reason, and then nobody is served.
    for (const char* rule : {"10.0.0.256 N", "10.0.0 N", "10.0.0.1/33 N", "10.0.0.1/8 N", "10.0.0.9-10.0.0.1 N",
                             "10.0.0.1 X", "10.0.0.1", "10.0.0.1 N hello", "1.2.3.4-5.6.7 N", "10.*.0.5-2 N"}) {
        ASSERT_FALSE(t.Set({"10.0.0.2 N", rule}, &bad)) << rule;
        EXPECT_EQ(bad.rfind(std::string("Rule 2 \"") + rule + "\": ", 0), 0u) << bad;
        EXPECT_EQ(t.Decide(Ip("10.0.0.2"), 0, nullptr), HostAction::Ignore);
    }
    ASSERT_FALSE(t.Set({"1.2.3.4 D " + std::string(kMaxHostMessage + 1, 'x')}, &bad));
}

TEST(Policy, VersionExtrasCarryTheLimitOnlyWhenOn) {
    unsigned char out[kMaxVersionExtras];
    EXPECT_EQ(VersionExtras(out, 0x01, 0, 0), 1);
    EXPECT_EQ(out[0], 0x01);
    ASSERT_EQ(VersionExtras(out, 0x11, 1000000, 0), 5);
    EXPECT_EQ(GetU32(out + 1), 1000000u);
    ASSERT_EQ(VersionExtras(out, 0x31, 1000000, 1452), 7);
    EXPECT_EQ(GetU16(out + 5), 1452);
}

TEST(Sessions, KeysAreGivenOutAndForgedKeysOnlyOpenSessionsWithinTheBucket) {
    uint16_t next = 100;
    SessionTable t([&] { return next++; });
    unsigned char client[6] = {0, 1, 127, 0, 0, 1}, other[6] = {0, 2, 127, 0, 0, 1};
    uint16_t key = 0;
    ASSERT_EQ(t.Admit(client, 0, 0, &key), SessionTable::Serve); // opens: 1 token
    EXPECT_EQ(key, 100);
    EXPECT_EQ(t.Admit(client, 100, 0, &key), SessionTable::Serve);
    EXPECT_EQ(key, 101);
    // A resend of a request made with a given key comes again, with the key given then, for free.
    for (int i = 0; i < 200; ++i) ASSERT_EQ(t.Admit(client, 100, 0, &key), SessionTable::Repeat);
    EXPECT_EQ(key, 101);
    // Any other key opens a session, from any port of the address: 99 more, then 8 a second.
    int served = 0;
    for (int i = 0; i < 1000; ++i) served += t.Admit(i % 2 ? client : other, uint16_t(5000 + i), 0, &key) != SessionTable::Drop;
    EXPECT_EQ(served, 99);
    for (int i = 0; i < 1000; ++i) served += t.Admit(other, uint16_t(5000 + i), 1000, &key) != SessionTable::Drop;
    EXPECT_EQ(served, 107);
    // The resend of an opening request counts as an opening; a client with its key is never slowed.
    unsigned char third[6] = {0, 3, 127, 0, 0, 2};
    for (int i = 0; i < 100; ++i) ASSERT_EQ(t.Admit(third, uint16_t(5000 + i), 0, &key), SessionTable::Serve);
    EXPECT_EQ(t.Admit(third, 5099, 0, &key), SessionTable::Drop);
    uint16_t held = 0;
    ASSERT_EQ(t.Admit(client, 0, 2000, &held), SessionTable::Serve);
    for (int i = 0; i < 500; ++i) ASSERT_EQ(t.Admit(client, held, 2000, &held), SessionTable::Serve);
}

TEST(Throughput, EightClientsShareTheLimitFairlyAndNothingWaitsPastASecond) {
    Throughput t;
    t.SetLimit(1000000, 0);
    // Stop-and-wait clients: each asks again as soon as its reply arrives.
    std::vector<uint64_t> got(8, 0);
    std::vector<bool> waiting(8, false);
    unsigned char reply[kMaxPacket] = {};
    for (uint64_t now = 0; now < 10000; ++now) {
        t.Release(now, [&](const unsigned char* c, const unsigned char*, int n) { got[c[5]] += uint64_t(n); waiting[c[5]] = false; });
        for (unsigned char i = 0; i < 8; ++i) {
            if (waiting[i]) continue;
            unsigned char client[6] = {0, 1, 10, 0, 0, i};
            if (t.SendNow(kMaxPacket, now)) got[i] += kMaxPacket;
            else waiting[i] = t.Queue(client, 0, reply, kMaxPacket, now) == 1;
        }
    }
    uint64_t sum = 0;
    for (uint64_t g : got) sum += g;
    EXPECT_NEAR(double(sum), 1e7, 5e5);
    for (uint64_t g : got) EXPECT_NEAR(double(g), double(sum) / 8, double(sum) / 80);
    // A resend updates the waiting reply; one that waited a second is dropped.
    EXPECT_EQ(t.dropped, 0u);
    unsigned char client[6] = {0, 1, 10, 0, 0, 9};
    t = Throughput();
    t.SetLimit(Throughput::kMinLimit, 20000);
    while (t.SendNow(kMaxPacket, 20000)) {}
    ASSERT_EQ(t.Queue(client, 5, reply, kMaxPacket, 20000), 1);
    EXPECT_EQ(t.Resent(client, 4, 77), 0);
    EXPECT_EQ(t.Resent(client, 5, 77), 1);
    int sent = 0;
    EXPECT_GT(t.Release(20000 + Throughput::kMaxWaitMs - 1, [&](const unsigned char*, const unsigned char* d, int) { sent += GetU16(d + 4) == 77; }), 0);
    EXPECT_EQ(t.Release(20000 + Throughput::kMaxWaitMs, [&](const unsigned char*, const unsigned char*, int) { ++sent; }), -1);
    EXPECT_EQ(sent, 0);
    EXPECT_EQ(t.dropped, 1u);
}

TEST(NameCache, AsksOnceAndKeepsEitherAnswerTenMinutes) {
    NameCache c;
    EXPECT_EQ(c.Lookup(1, 0), NameCache::Ask);
    EXPECT_EQ(c.Lookup(1, 5), NameCache::Waiting);
    EXPECT_EQ(c.Lookup(1, NameCache::kRetryMs), NameCache::Ask); // no answer came
    c.Answer(1, true, 100);
    c.Answer(2, false, 100); // never asked
    EXPECT_EQ(c.Lookup(1, 100 + NameCache::kKeepMs - 1), NameCache::Named);
    EXPECT_EQ(c.Lookup(1, 100 + NameCache::kKeepMs), NameCache::Ask);
    c.Answer(1, false, 0);
    EXPECT_EQ(c.Lookup(1, NameCache::kKeepMs - 1), NameCache::Unnamed);
    for (uint32_t a = 10; a < 10 + NameCache::kMaxAsking; ++a) c.Lookup(a, 0);
    EXPECT_EQ(c.Lookup(99999, 0), NameCache::Busy);
}

TEST(LogLimiter, OnceAMinuteForEachAddressAndBoundedInAll) {
    LogLimiter l;
    EXPECT_TRUE(l.Allow(1, 0));
    EXPECT_FALSE(l.Allow(1, LogLimiter::kPeriodMs - 1));
    EXPECT_TRUE(l.Allow(1, LogLimiter::kPeriodMs));
    unsigned allowed = 0;
    for (uint32_t a = 2; a < 10000; ++a) allowed += l.Allow(a, LogLimiter::kPeriodMs + 1);
    EXPECT_EQ(allowed, LogLimiter::kMaxLines - 1);
}
