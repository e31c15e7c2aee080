// Directory listings and downloads end to end: libfsplib as a real client
// and raw datagrams for exact bytes, against vfspd.exe under Wine.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/time.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "Harness.h"
#include "engine/core/Packet.h"

extern "C" {
#include <fsplib.h>
}

using namespace e2e;
namespace fs = std::filesystem;


namespace {
struct Listed {
    uint8_t type = 0;
    uint32_t size = 0, time = 0;
    int count = 0;
};
using Listing = std::map<std::string, Listed>;

// What a listing of a local directory must show: every name not beginning
// with '.', plus "." and "..".
Listing Expected(const std::string& dir) {
    Listing l;
    l["."] = {2, 0, 0, 1};
    l[".."] = {2, 0, 0, 1};
    for (const auto& entry : fs::directory_iterator(dir)) {
        std::string name = entry.path().filename().string();
        if (name[0] == '.') continue;
        struct stat st;
        EXPECT_EQ(stat(entry.path().c_str(), &st), 0);
        bool isDir = S_ISDIR(st.st_mode);
        l[name] = {uint8_t(isDir ? 2 : 1), isDir ? 0u : uint32_t(st.st_size), uint32_t(st.st_mtime), 1};
    }
    return l;
}

// The synthetic entries carry time 0; the rest what the file system says.
void ExpectSame(const Listing& got, const Listing& want, const std::string& what) {
    EXPECT_EQ(got.size(), want.size()) << what;
    for (const auto& [name, w] : want) {
        auto it = got.find(name);
        if (it == got.end()) {
            ADD_FAILURE() << what << ": missing " << name;
            continue;
        }
        const Listed& g = it->second;
        EXPECT_EQ(g.count, 1) << what << ": " << name;
        EXPECT_EQ(g.type, w.type) << what << ": " << name;
        EXPECT_EQ(g.size, w.size) << what << ": " << name;
        if (name != "." && name != "..") {
            EXPECT_EQ(g.time, w.time) << what << ": " << name;
        }
    }
    for (const auto& [name, g] : got)
        if (!want.count(name)) ADD_FAILURE() << what << ": unexpected " << name;
}

struct Session {
    explicit Session(uint16_t port) : s(fsp_open_session("127.0.0.1", port, nullptr)) {
        if (s) s->timeout = 20000; // fail within seconds, not minutes
    }
    ~Session() {
        if (s) fsp_close_session(s);
    }
    FSP_SESSION* s;
};

bool FspList(FSP_SESSION* s, const std::string& dir, Listing* out) {
    FSP_DIR* d = fsp_opendir(s, dir.c_str());
    if (!d) return false;
    FSP_RDENTRY e, *result = &e;
    while (fsp_readdir_native(d, &e, &result) == 0 && result) {
        Listed& l = (*out)[std::string(e.name, e.namlen)];
        l.type = e.type;
        l.size = e.size;
        l.time = e.lastmod;
        ++l.count;
    }
    fsp_closedir(d);
    return true;
}

bool FspFetch(FSP_SESSION* s, const std::string& path, std::string* out) {
    FSP_FILE* f = fsp_fopen(s, path.c_str(), "rb");
    if (!f) return false;
    char buf[4096];
    size_t n;
    while ((n = fsp_fread(buf, 1, sizeof(buf), f)) > 0) out->append(buf, n);
    bool ok = !f->err;
    fsp_fclose(f);
    return ok;
}

Bytes Pref(uint16_t size) { return Bytes{uint8_t(size >> 8), uint8_t(size)}; }

// A listing read as clients read it: position 0, then the sum of the
// lengths so far, until a block is shorter than the first.
struct RawListing {
    Bytes stream;
    std::vector<size_t> blocks;
    std::string error;
};
RawListing FetchRaw(Client& c, const std::string& dir, const Bytes& extra, uint16_t* seq) {
    RawListing r;
    size_t first = 0;
    uint16_t key = 0; // of the last reply, sent back as clients do
    for (;;) {
        auto d = c.Transact(Request(0x41, key, (*seq)++, uint32_t(r.stream.size()), Text(dir), extra));
        if (!d) {
            r.error = "no reply";
            return r;
        }
        Reply rep = Decode(*d);
        key = rep.key;
        EXPECT_TRUE(rep.checksumOk);
        if (rep.command == 0x40) {
            r.error = rep.DataText();
            return r;
        }
        EXPECT_EQ(rep.command, 0x41);
        EXPECT_EQ(rep.position, r.stream.size()) << "a block echoes its position";
        EXPECT_TRUE(rep.extra.empty());
        r.blocks.push_back(rep.data.size());
        if (rep.data.empty()) break;
        if (!first) first = rep.data.size();
        r.stream.insert(r.stream.end(), rep.data.begin(), rep.data.end());
        if (rep.data.size() < first) break;
    }
    return r;
}

Listing Parse(const Bytes& d, size_t blockSize, bool* ended) {
    Listing out;
    *ended = false;
    size_t pos = 0;
    while (pos + 9 <= d.size()) {
        uint8_t type = d[pos + 8];
        if (type == 0) {
            *ended = true;
            break;
        }
        if (type == 0x2A) {
            pos = (pos / blockSize + 1) * blockSize;
            continue;
        }
        auto nul = std::find(d.begin() + long(pos) + 9, d.end(), 0);
        if (nul == d.end()) break;
        std::string name(d.begin() + long(pos) + 9, nul);
        Listed& l = out[name];
        l.type = type;
        l.time = fsp::GetU32(&d[pos]);
        l.size = fsp::GetU32(&d[pos + 4]);
        ++l.count;
        pos = (pos + 9 + name.size() + 1 + 3) & ~size_t(3);
    }
    return out;
}

std::string RandomBytes(size_t n, unsigned seed) {
    std::mt19937 rng(seed);
    std::string s(n, '\0');
    for (char& ch : s) ch = char(rng());
    return s;
}

void SetTime(const std::string& path, time_t seconds) {
    timespec t[2] = {{seconds, 999999999}, {seconds, 999999999}};
    ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), t, 0), 0) << path;
}

int Count(const std::vector<std::string>& lines, const std::string& body) {
    return int(std::count(lines.begin(), lines.end(), body));
}

// What elinks prints for an fsp:// URL (-dump: a page, -source: the bytes).
std::string Elinks(uint16_t port, const std::string& mode, const std::string& url, const std::string& password = "") {
    TempDir home;
    std::string cmd = "HOME=" + home.path + " timeout 60 elinks -no-connect 1 -no-home 1 " + mode + " 'fsp://" +
                      (password.empty() ? "" : password + "@") + "127.0.0.1:" + std::to_string(port) + url +
                      "' > " + home.path + "/out";
    EXPECT_EQ(std::system(cmd.c_str()), 0) << cmd;
    return ReadFile(home.path + "/out");
}

const std::vector<size_t> kFileSizes{0, 1, 1023, 1024, 1025, 100 * 1024, 5 * 1024 * 1024};
} // namespace

// One server for the suite: starting one under Wine takes seconds.
class Served : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        server = new Server();
        const std::string& root = server->root;
        fs::create_directories(root + "/empty");
        fs::create_directories(root + "/one");
        WriteFile(root + "/one/only.txt", "x");
        fs::create_directories(root + "/hundred");
        for (int i = 0; i < 100; ++i) {
            char name[32];
            std::snprintf(name, sizeof(name), "/hundred/file-%03d.dat", i);
            WriteFile(root + name, std::string(size_t(i * 11), 'h'));
            // Whole seconds and a fraction just below the next one: the
            // listing gives the exact second.
            SetTime(root + name, 819244800 + i * 86400);
        }
        fs::create_directories(root + "/big");
        for (int i = 0; i < 3000; ++i) {
            char name[32];
            std::snprintf(name, sizeof(name), "/big/e%04d", i);
            std::string p = root + name + std::string(size_t(i % 40), 'q');
            if (i % 30 == 0) fs::create_directories(p);
            else {
                WriteFile(p, "");
                fs::resize_file(p, uintmax_t(i) * 37);
            }
        }
        fs::create_directories(root + "/names");
        for (int length = 1; length <= 255; ++length) {
            std::string p = root + "/names/" + std::string(size_t(length), char('a' + length % 26));
            if (length % 2) WriteFile(p, std::string(size_t(length), 'n'));
            else fs::create_directories(p);
        }
        fs::create_directories(root + "/dots/.hiddendir");
        fs::create_directories(root + "/dots/sub");
        WriteFile(root + "/dots/.hidden", "h");
        WriteFile(root + "/dots/visible", "v");
        WriteFile(root + "/dots/a.b", "ab");
        WriteFile(root + "/dots/x..y", "xy");
        fs::create_directories(root + "/onlydots/.a");
        WriteFile(root + "/onlydots/.b", "b");
        fs::create_directories(root + "/files");
        for (size_t n : kFileSizes) WriteFile(root + "/files/f" + std::to_string(n), RandomBytes(n, unsigned(n)));
    }
    static void TearDownTestSuite() {
        EXPECT_EQ(server->Stop(), 0);
        delete server;
        server = nullptr;
    }

    // Log lines written since the mark, once `ready` holds of them.
    static std::vector<std::string> LinesSince(size_t mark,
                                               std::function<bool(const std::vector<std::string>&)> ready) {
        std::vector<std::string> lines;
        WaitFor([&] {
            std::string log = server->Log();
            lines = LogBodies(log.size() > mark ? log.substr(mark) : "");
            return ready(lines);
        });
        return lines;
    }

    static Server* server;
};
Server* Served::server = nullptr;

TEST_F(Served, LibfsplibListsEveryEntryOnceWithTypeSizeAndTime) {
    Session session(server->port);
    ASSERT_TRUE(session.s);
    size_t mark = server->Log().size();
    std::vector<std::string> dirs{"empty", "one", "hundred", "big", "names", "dots", "onlydots", "/",
                                  "/big/e0000"};
    for (const std::string& dir : dirs) {
        Listing got;
        ASSERT_TRUE(FspList(session.s, dir, &got)) << dir;
        ExpectSame(got, Expected(server->root + "/" + dir), dir);
    }
    // Spot checks that do not lean on Expected().
    Listing dots;
    ASSERT_TRUE(FspList(session.s, "dots", &dots));
    EXPECT_EQ(dots.size(), 6u); // . .. sub visible a.b x..y
    EXPECT_EQ(dots["sub"].type, 2);
    EXPECT_EQ(dots["a.b"].size, 2u);
    Listing hundred;
    ASSERT_TRUE(FspList(session.s, "/hundred/", &hundred));
    EXPECT_EQ(hundred["file-000.dat"].time, 819244800u); // 1995-12-18 00:00:00 UTC
    EXPECT_EQ(hundred["file-099.dat"].time, 819244800u + 99 * 86400);
    EXPECT_EQ(hundred["file-099.dat"].size, 99u * 11);
    Listing names;
    ASSERT_TRUE(FspList(session.s, "names", &names));
    EXPECT_EQ(names.size(), 257u);
    EXPECT_EQ(names[std::string(255, char('a' + 255 % 26))].type, 1);
    EXPECT_EQ(names[std::string(254, char('a' + 254 % 26))].type, 2);
    // Names as long as the file system takes are served, whatever the path's length.
    std::string longest;
    EXPECT_TRUE(FspFetch(session.s, "names/" + std::string(255, char('a' + 255 % 26)), &longest));
    EXPECT_EQ(longest, std::string(255, 'n'));
    Listing deep;
    EXPECT_TRUE(FspList(session.s, "names/" + std::string(254, char('a' + 254 % 26)), &deep));

    // A missing directory and a file fail the open.
    Listing none;
    EXPECT_FALSE(FspList(session.s, "nothere", &none));
    EXPECT_FALSE(FspList(session.s, "one/only.txt", &none));

    // One line per listing, however many blocks it took.
    size_t listings = dirs.size() + 4;
    auto lines = LinesSince(mark, [&](const auto& l) {
        return size_t(Count(l, "[127.0.0.1]: Get directory listing")) >= listings;
    });
    EXPECT_EQ(size_t(Count(lines, "[127.0.0.1]: Get directory listing")), listings);
    EXPECT_EQ(Count(lines, "[127.0.0.1]: Directory nothere does not exist! (error 3)"), 1);
    EXPECT_EQ(Count(lines, "[127.0.0.1]: Directory one/only.txt does not exist! (error 123)"), 1);
}

TEST_F(Served, LibfsplibDownloadsAreByteIdentical) {
    Session session(server->port);
    ASSERT_TRUE(session.s);
    size_t mark = server->Log().size();
    for (size_t n : kFileSizes) {
        std::string got;
        ASSERT_TRUE(FspFetch(session.s, "/files/f" + std::to_string(n), &got)) << n;
        EXPECT_EQ(got.size(), n);
        EXPECT_TRUE(got == RandomBytes(n, unsigned(n))) << "file of " << n << " bytes differs";
    }
    std::string none;
    EXPECT_FALSE(FspFetch(session.s, "/files/missing", &none));

    // Each download logs its end with the local path: libfsplib reads on to
    // an empty block after a short one, and each short block is an end.
    size_t expected = 1;
    for (size_t n : kFileSizes) expected += n % 1024 ? 2 : 1;
    auto lines = LinesSince(mark, [&](const auto& l) { return l.size() >= expected; });
    size_t downloads = 0;
    for (size_t n : kFileSizes) {
        int c = Count(lines, "[127.0.0.1]: Downloaded " + WinPath(server->root) + "\\files\\f" + std::to_string(n));
        EXPECT_EQ(c, n % 1024 ? 2 : 1) << n;
        downloads += size_t(c);
    }
    EXPECT_EQ(Count(lines, "[127.0.0.1]: Unable to open file: /files/missing (error 2)"), 1);
    EXPECT_EQ(lines.size(), downloads + 1) << ::testing::PrintToString(lines);
}

TEST_F(Served, RawListingsHonourThePreferredBlockSize) {
    Client c(server->port);
    uint16_t seq = 1;
    Listing want = Expected(server->root + "/hundred");
    struct Case {
        Bytes extra;
        size_t block;
    };
    for (const Case& k : {Case{{}, 1024}, Case{Pref(0), 1024}, Case{Pref(2000), 1452}, Case{Pref(100), 100},
                          Case{Pref(512), 512}, Case{Pref(1022), 1020}, Case{Bytes{0x01}, 1024}}) {
        RawListing r = FetchRaw(c, "hundred", k.extra, &seq);
        ASSERT_EQ(r.error, "") << k.block;
        ASSERT_GE(r.blocks.size(), 2u) << k.block;
        for (size_t i = 0; i + 1 < r.blocks.size(); ++i) {
            EXPECT_EQ(r.blocks[i], k.block);
        }
        EXPECT_LT(r.blocks.back(), k.block);
        bool ended = false;
        ExpectSame(Parse(r.stream, k.block, &ended), want, "hundred at " + std::to_string(k.block));
        EXPECT_TRUE(ended) << k.block;
    }

    // An empty directory: ".", ".." and the end marker, 36 bytes.
    auto d = c.Transact(Request(0x41, 0, seq++, 0, Text("empty")));
    ASSERT_TRUE(d);
    Reply rep = Decode(*d);
    Bytes expected(36, 0);
    expected[8] = 2, expected[9] = '.';
    expected[20] = 2, expected[21] = '.', expected[22] = '.';
    EXPECT_EQ(rep.data, expected);
    // Past the end of a listing: an empty block at the position asked for.
    d = c.Transact(Request(0x41, 0, seq++, 0x80000000u, Text("empty")));
    ASSERT_TRUE(d);
    rep = Decode(*d);
    EXPECT_EQ(rep.command, 0x41);
    EXPECT_EQ(rep.position, 0x80000000u);
    EXPECT_TRUE(rep.data.empty());

    // 100-byte blocks cannot hold the entry of a 255-character name: the
    // listing comes in 1024-byte blocks instead, whole. Every entry fits
    // 284 bytes.
    for (uint16_t pref : {100, 284}) {
        RawListing r = FetchRaw(c, "names", Pref(pref), &seq);
        ASSERT_EQ(r.error, "");
        size_t block = pref == 100 ? 1024 : pref;
        for (size_t i = 0; i + 1 < r.blocks.size(); ++i) EXPECT_EQ(r.blocks[i], block) << pref;
        bool ended = false;
        ExpectSame(Parse(r.stream, block, &ended), Expected(server->root + "/names"),
                   "names at " + std::to_string(pref));
        EXPECT_TRUE(ended) << pref;
    }
}

TEST_F(Served, ListingsFollowChangesToTheDirectory) {
    // Listings are kept and shared between clients; a change to the
    // directory, by the server or anybody else, shows at once.
    std::string dir = server->root + "/changing";
    fs::create_directories(dir);
    WriteFile(dir + "/first", "1");
    SetTime(dir, 819244800); // long settled
    Session a(server->port), b(server->port);
    Listing before, after, gone;
    ASSERT_TRUE(FspList(a.s, "changing", &before));
    EXPECT_EQ(before.size(), 3u);
    WriteFile(dir + "/second", "22");
    ASSERT_TRUE(FspList(b.s, "changing", &after));
    ExpectSame(after, Expected(dir), "after a file was added");
    fs::remove(dir + "/first");
    ASSERT_TRUE(FspList(a.s, "changing", &gone));
    ExpectSame(gone, Expected(dir), "after a file was removed");

    // Nor does a later block name what was removed after the first was read.
    for (int i = 0; i < 60; ++i) WriteFile(dir + "/later-entry-" + std::to_string(i), "");
    Client c(server->port);
    ASSERT_TRUE(c.Transact(Request(0x41, 0, 1, 0, Text("changing\npw"))));
    for (int i = 0; i < 60; ++i) fs::remove(dir + "/later-entry-" + std::to_string(i));
    auto d = c.Transact(Request(0x41, 0, 2, 1024, Text("changing")));
    EXPECT_TRUE(d && Decode(*d).command == 0x41 && Decode(*d).data.empty());
}

TEST_F(Served, RawDownloadsBlockByBlockToTheEnd) {
    Client c(server->port);
    uint16_t seq = 1;
    const std::string content = RandomBytes(1025, 1025);
    auto Get = [&](uint32_t pos, const Bytes& extra) {
        auto d = c.Transact(Request(0x42, 0, seq++, pos, Text("files/f1025"), extra));
        EXPECT_TRUE(d);
        Reply r = d ? Decode(*d) : Reply{};
        EXPECT_TRUE(r.checksumOk);
        EXPECT_EQ(r.command, 0x42) << r.DataText();
        EXPECT_EQ(r.position, pos) << "a block echoes its position";
        EXPECT_TRUE(r.extra.empty());
        return std::string(r.data.begin(), r.data.end());
    };
    const std::string downloaded = "[127.0.0.1]: Downloaded " + WinPath(server->root) + "\\files\\f1025";

    for (uint16_t pref : {0, 1024}) {
        size_t mark = server->Log().size();
        EXPECT_EQ(Get(0, Pref(pref)), content.substr(0, 1024)) << pref;
        EXPECT_EQ(Get(1024, Pref(pref)), content.substr(1024)) << pref;
        auto lines = LinesSince(mark, [&](const auto& l) { return Count(l, downloaded) >= 1; });
        EXPECT_EQ(Count(lines, downloaded), 1) << pref;
    }

    // 100-byte blocks: the end is logged at the first short block only.
    size_t mark = server->Log().size();
    std::string got;
    for (uint32_t pos = 0;; pos += 100) {
        std::string blk = Get(pos, Pref(100));
        got += blk;
        if (blk.size() < 100) break;
        ASSERT_LT(pos, 2000u);
    }
    EXPECT_EQ(got, content);
    // At and past the end: empty blocks, each logged as the end; also far
    // past 2 GiB, where a 32-bit position is still just past the end.
    for (uint32_t pos : {1025u, 5000u, 0x80000000u, 0xFFFFFFFFu}) EXPECT_EQ(Get(pos, {}), "") << pos;
    auto lines = LinesSince(mark, [&](const auto& l) { return Count(l, downloaded) >= 5; });
    EXPECT_EQ(Count(lines, downloaded), 5);
    EXPECT_EQ(lines.size(), 5u);

    // A file of exactly one block: the full block logs nothing, the empty
    // one after it logs the end.
    mark = server->Log().size();
    auto d = c.Transact(Request(0x42, 0, seq++, 0, Text("/files/f1024")));
    ASSERT_TRUE(d);
    EXPECT_EQ(Decode(*d).data.size(), 1024u);
    d = c.Transact(Request(0x42, 0, seq++, 1024, Text("/files/f1024")));
    ASSERT_TRUE(d);
    EXPECT_TRUE(Decode(*d).data.empty());
    lines = LinesSince(mark, [](const auto& l) { return !l.empty(); });
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0], "[127.0.0.1]: Downloaded " + WinPath(server->root) + "\\files\\f1024");
    EXPECT_EQ(Get(0, Pref(2000)), content); // up to the packet size, 1,452
    LinesSince(mark, [](const auto& l) { return l.size() >= 2; }); // its end, logged
}

TEST_F(Served, RefusalsAnswerWithTheirTextAndLogIt) {
    Client c(server->port);
    uint16_t seq = 1;
    Bytes noNul = Text("files/f1", false);
    struct Case {
        uint8_t command;
        Bytes data;
        std::string text;
        uint32_t position = 0;
        std::string logged = ""; // when the log escapes the text
    };
    const std::vector<Case> cases{
        {0x42, Text("..\\root\\files\\f1"), "Unable to open file: ..\\root\\files\\f1"},
        {0x42, Text("dots/x..y/.."), "Unable to open file: dots/x..y/.."},
        {0x42, Text("files/missing"), "Unable to open file: files/missing"},
        {0x42, Text("files"), "Unable to open file: files"},
        {0x42, {}, "Unable to open file: "},
        {0x42, noNul, "Unable to open file: files/f1"},
        {0x41, Text(".."), "Directory .. does not exist!"},
        {0x41, Text("empty/../one"), "Directory empty/../one does not exist!"},
        {0x41, Text("nothere"), "Directory nothere does not exist!"},
        {0x41, Text("files/f1"), "Directory files/f1 does not exist!"},
        {0x41, {}, "Directory  does not exist!"},
        {0x41, Text("empty", false), "Directory empty does not exist!"},
        {0x42, Text("files/missing\nsecret"), "Unable to open file: files/missing"}, // no password quoted
        // A literal "\x0D" and a right-to-left override: escaped unambiguously.
        {0x42, Text("a\\x0D\xE2\x80\xAEtxt.exe"), "Unable to open file: a\\x0D\xE2\x80\xAEtxt.exe", 0,
         "Unable to open file: a\\x5Cx0D\\xE2\\x80\\xAEtxt.exe"},
        // Inside the first 1024-byte block.
        {0x41, Text("hundred"), "Directory hundred has no block at that position!", 100},
    };
    size_t mark = server->Log().size();
    for (const Case& k : cases) {
        auto d = c.Transact(Request(k.command, 0, seq++, k.position, k.data));
        ASSERT_TRUE(d) << k.text;
        Reply r = Decode(*d);
        EXPECT_TRUE(r.checksumOk);
        EXPECT_EQ(r.command, 0x40) << k.text;
        EXPECT_EQ(r.DataText(), k.text);
        EXPECT_EQ(r.data.size(), k.text.size() + 1) << "sent with its NUL";
    }
    auto lines = LinesSince(mark, [&](const auto& l) { return l.size() >= cases.size(); });
    ASSERT_EQ(lines.size(), cases.size());
    // A line longer than the log's line buffer is cut, not dropped.
    for (size_t i = 0; i < cases.size(); ++i) {
        std::string full = "[127.0.0.1]: " + (cases[i].logged.empty() ? cases[i].text : cases[i].logged);
        const std::string line = lines[i].substr(0, lines[i].rfind(" (error ")); // a failure's code
        EXPECT_GE(line.size(), std::min<size_t>(full.size(), 200)) << full;
        EXPECT_EQ(full.substr(0, line.size()), line);
    }
    // The server still serves after all of them.
    Session session(server->port);
    std::string got;
    EXPECT_TRUE(FspFetch(session.s, "files/f1", &got));
    EXPECT_EQ(got, RandomBytes(1, 1));
}

TEST_F(Served, VersionAndProtectionWithUploadsAllowed) {
    Client c(server->port);
    auto d = c.Transact(Request(0x10, 0, 1, 0));
    ASSERT_TRUE(d);
    Reply v = Decode(*d);
    EXPECT_EQ(v.position, 3u);
    EXPECT_EQ(v.data, Text("VrelFSPd for Win95 v1.0b3 Dec 18 1995"));
    EXPECT_EQ(v.data.size(), 38u);
    EXPECT_EQ(v.extra, (Bytes{0x21, 0x05, 0xAC}));
    Session session(server->port);
    unsigned char pro = 0;
    ASSERT_EQ(fsp_getpro(session.s, "/", &pro), 0);
    EXPECT_EQ(pro, 0x6C); // list, add, make directories
    ASSERT_EQ(fsp_getpro(session.s, "files", &pro), 0); // the same for any directory
    EXPECT_EQ(pro, 0x6C);
    EXPECT_EQ(fsp_getpro(session.s, "nothere", &pro), -1);
}

// Clients as they are today: elinks asks for the status of every URL
// before it lists or fetches, and names travel as UTF-8 both ways.
TEST(ListingDownload, CurrentClientsStatusAndUtf8Names) {
    Server server;
    const std::string cafe = "caf\xC3\xA9.txt", content = Pattern(70000, 21);
    fs::create_directories(server.root + "/pub");
    WriteFile(server.root + "/pub/" + cafe, content);
    WriteFile(server.root + "/pub/\xD0\x9F\xD1\x80\xD0\xB8.txt", "privet");
    WriteFile(server.root + "/pub/plain.bin", content);
    struct timeval times[2] = {{819255600, 0}, {819255600, 0}};
    ASSERT_EQ(utimes((server.root + "/pub/plain.bin").c_str(), times), 0);

    // Status of a file, a directory, and missing or refused paths, which
    // get type 0, never an error.
    Raw raw(server.port);
    Reply r = raw.Ask(0x4D, Text("pub/plain.bin"));
    EXPECT_EQ(r.command, 0x4D);
    EXPECT_EQ(r.data, (Bytes{0x30, 0xD4, 0xD9, 0x30, 0x00, 0x01, 0x11, 0x70, 0x01}));
    EXPECT_EQ(Bytes(raw.Ask(0x4D, Text("pub")).data).back(), 2);
    for (const char* missing : {"nothing.txt", "../etc", "CON"})
        EXPECT_EQ(raw.Ask(0x4D, Text(missing)).data, Bytes(9, 0)) << missing;

    // elinks: a listing page and a byte-identical download.
    auto elinks = [&](const std::string& mode, const std::string& url, const std::string& password = "") {
        return Elinks(server.port, mode, url, password);
    };
    std::string page = elinks("-dump", "/pub/");
    EXPECT_NE(page.find(cafe), std::string::npos) << page;
    EXPECT_TRUE(elinks("-source", "/pub/plain.bin") == content);
    // A name before the host makes elinks end every path with a newline and
    // a password (here an empty one): served as the path before it.
    EXPECT_TRUE(elinks("-source", "/pub/plain.bin", "hunter2") == content);

    // UTF-8 names: listed and fetched as they are on disk, and uploaded
    // under the name the client gave; also one of 85 CJK characters (255
    // bytes), and below a path longer than 260 characters.
    std::string cjk, deep = "pub";
    for (int i = 0; i < 85; ++i) cjk += "\xE6\xBC\xA2";
    for (char c : std::string("klmno")) deep += "/" + std::string(60, c);
    fs::create_directories(server.root + "/" + deep);
    WriteFile(server.root + "/pub/" + cjk, content);
    Session s(server.port);
    Listing got;
    ASSERT_TRUE(FspList(s.s, "pub", &got));
    ExpectSame(got, Expected(server.root + "/pub"), "utf-8 listing");
    std::string fetched;
    EXPECT_TRUE(FspFetch(s.s, "pub/" + cafe, &fetched) && fetched == content);
    const std::string resume = "r\xC3\xA9sum\xC3\xA9.txt";
    FSP_FILE* f = fsp_fopen(s.s, ("pub/" + resume).c_str(), "wb");
    ASSERT_TRUE(f);
    EXPECT_EQ(fsp_fwrite("cv", 1, 2, f), 2u);
    EXPECT_EQ(fsp_fclose(f), 0);
    EXPECT_EQ(ReadFile(server.root + "/pub/" + resume), "cv");
    fetched.clear();
    EXPECT_TRUE(FspFetch(s.s, "pub/" + cjk, &fetched) && fetched == content);
    f = fsp_fopen(s.s, (deep + "/" + cjk).c_str(), "wb");
    ASSERT_TRUE(f && fsp_fwrite(content.data(), 1, 5000, f) == 5000u && fsp_fclose(f) == 0);
    Listing below;
    EXPECT_TRUE(FspFetch(s.s, deep + "/" + cjk, &(fetched = "")) && fetched == content.substr(0, 5000));
    ASSERT_TRUE(FspList(s.s, deep, &below));
    ExpectSame(below, Expected(server.root + "/" + deep), "a path longer than 260 characters");
}

// A read-only tree with one folder made writable by its access files, as the
// Swiss loader's users set it up; libfsplib, elinks and raw datagrams.
TEST(ListingDownload, AccessFilesReadmesPacketSizeAndHugeFiles) {
    Settings settings;
    settings.flags["UploadOnly"] = 0;
    Server server(settings);
    const std::string& root = server.root;
    for (const char* d : {"swiss", "games", "secret", "hidden"}) fs::create_directories(root + "/" + d);
    for (const char* f : {".FSP_OK_ADD", ".FSP_OK_DEL", ".FSP_OK_MKDIR", ".fsp_ok_rename"}) WriteFile(root + "/swiss/" + f, "");
    for (auto [file, text] : std::map<std::string, std::string>{
             {"swiss/.README", std::string(2000, 'r')}, {"swiss/taken.txt", "old"}, {"games/.README", "Games\nhere"},
             {"games/game.iso", Pattern(5000, 7)}, {"secret/.FSP_NO_GET", ""}, {"secret/f", "s"},
             {"hidden/.FSP_NO_LIST", ""}, {"huge.bin", ""}})
        WriteFile(root + "/" + file, text);
    fs::resize_file(root + "/huge.bin", 5ull << 30); // sparse
    Session s(server.port);
    std::string page;
    auto Put = [&](const std::string& name, const std::string& content) {
        FSP_FILE* f = fsp_fopen(s.s, name.c_str(), "wb");
        return f && fsp_fwrite(content.data(), 1, content.size(), f) == content.size() && fsp_fclose(f) == 0;
    };
    unsigned char pro = 0;
    for (auto [dir, want] : std::vector<std::pair<const char*, int>>{
             {"swiss", 0xEE}, {"/", 0x60}, {"games", 0x60}, {"secret", 0x70}, {"hidden", 0x20}}) {
        ASSERT_EQ(fsp_getpro(s.s, dir, &pro), 0) << dir;
        EXPECT_EQ(pro, want) << dir;
    }
    // The swiss folder takes new files, replacements, renames and folders.
    EXPECT_TRUE(Put("swiss/save.gci", "save"));
    EXPECT_TRUE(Put("swiss/taken.txt", "new"));
    EXPECT_EQ(fsp_rename(s.s, "swiss/save.gci", "swiss/save2.gci"), 0);
    EXPECT_EQ(fsp_mkdir(s.s, "swiss/sub"), 0);
    EXPECT_EQ(fsp_rmdir(s.s, "swiss/sub"), 0);
    EXPECT_EQ(ReadFile(root + "/swiss/save2.gci") + ReadFile(root + "/swiss/taken.txt"), "savenew");
    EXPECT_FALSE(Put("games/x", "x")); // its files govern it alone
    EXPECT_EQ(fsp_mkdir(s.s, "games/sub"), -1);
    Raw raw(server.port);
    size_t mark = server.Log().size();
    ExpectError(raw.Ask(0x46, Text("swiss")), "RMDIR:  Access Denied");
    ExpectError(raw.Ask(0x42, Text("secret/f")), "Unable to open file: secret/f");
    ExpectError(raw.Ask(0x41, Text("hidden")), "Directory hidden does not exist!");
    ExpectError(raw.Ask(0x4E, Text("swiss/save2.gci"), 11, Text("games/save")), "RENAME:  Access Denied");
    std::string log = server.Log().substr(mark);
    for (const char* rule : {"RMDIR:  Access Denied (read-only level, no .FSP_OK_DEL in /)",
                             "Unable to open file: secret/f (.FSP_NO_GET in /secret/)",
                             "Directory hidden does not exist! (.FSP_NO_LIST in /hidden)",
                             "RENAME:  Access Denied (read-only level, no .FSP_OK_RENAME in /games/)"})
        EXPECT_NE(log.find(rule), std::string::npos) << rule << "\n" << log;
    // No client names an access file or a readme, in any spelling.
    for (const char* name : {"swiss/.FSP_OK_ADD", "swiss/.fsp_ok_del", "swiss//.README", "games/.readme"}) {
        EXPECT_EQ(raw.Ask(0x42, Text(name)).command, 0x40) << name;
        EXPECT_EQ(raw.Ask(0x4D, Text(name)).data, Bytes(9, 0)) << name;
    }
    EXPECT_FALSE(Put("swiss/.FSP_NO_GET", ""));
    EXPECT_EQ(fsp_unlink(s.s, "swiss/.FSP_OK_DEL"), -1);
    EXPECT_EQ(fsp_rename(s.s, "swiss/taken.txt", "swiss/.FSP_OK_X"), -1);
    EXPECT_TRUE(Exists(root + "/swiss/.FSP_OK_DEL") && !Exists(root + "/swiss/.FSP_OK_X"));
    // An access file the operator adds counts within a second.
    WriteFile(root + "/games/.FSP_OK_MKDIR", "");
    EXPECT_TRUE(WaitFor([&] { return fsp_mkdir(s.s, "games/sub") == 0; }, std::chrono::milliseconds(1000)));
    EXPECT_EQ(raw.Ask(0x47, Text("swiss")).data, Text(std::string(1022, 'r'))); // readmes, cut to fit
    EXPECT_EQ(raw.Ask(0x47, Text("games/")).DataText(), "Games\nhere");
    // Blocks of the size asked for, up to the packet size, 1,452.
    Bytes block = raw.Ask(0x42, Text("games/game.iso"), 0, {0x05, 0xB4}).data;
    EXPECT_EQ(std::string(block.begin(), block.end()), Pattern(5000, 7).substr(0, 1452));
    // A file of 4 GiB or more: the largest size, and no part of it.
    Listing top;
    ASSERT_TRUE(FspList(s.s, "/", &top));
    EXPECT_EQ(top["huge.bin"].size, 0xFFFFFFFFu);
    Bytes st = raw.Ask(0x4D, Text("huge.bin")).data;
    EXPECT_EQ(Bytes(st.begin() + 4, st.end()), (Bytes{0xFF, 0xFF, 0xFF, 0xFF, 1}));
    ExpectError(raw.Ask(0x42, Text("huge.bin"), 0x7FFFFFFF), "File too large for FSP (4 GiB or more): huge.bin");
    EXPECT_FALSE(FspFetch(s.s, "huge.bin", &page));
    // elinks lists the swiss folder without its access files.
    page = Elinks(server.port, "-dump", "/swiss/");
    EXPECT_NE(page.find("save2.gci"), std::string::npos) << page;
    EXPECT_EQ(page.find(".FSP_"), std::string::npos) << page;
}
