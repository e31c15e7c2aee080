// A hostile client: a hundred thousand datagrams of every malformed kind.
// The server must keep answering, never end, touch nothing outside its
// root, and let no client text forge a line of its log.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>
#include <map>
#include <random>
#include <thread>

#include "Harness.h"
#include "engine/core/Packet.h"

using namespace e2e;
namespace fs = std::filesystem;

namespace {
// Every file and directory under dir, except below `skip`, with its size
// and content, so that any change shows.
std::map<std::string, std::string> Snapshot(const std::string& dir, const std::string& skip) {
    std::map<std::string, std::string> out;
    for (auto it = fs::recursive_directory_iterator(dir); it != fs::recursive_directory_iterator(); ++it) {
        std::string p = it->path().string();
        if (p.compare(0, skip.size(), skip) == 0) {
            if (it->is_directory()) it.disable_recursion_pending();
            continue;
        }
        out[p] = it->is_directory() ? "<dir>" : ReadFile(p);
    }
    return out;
}

void Stamp(Bytes& p) {
    p[1] = 0;
    p[1] = uint8_t(fsp::CalcChecksum(p.data(), int(p.size()), 0));
}

class Hostile {
public:
    explicit Hostile(uint32_t seed) : rng(seed) {}

    Bytes Next(int kind) {
        switch (kind) {
        case 0: return RandomBytes(Int(0, 1100));       // noise, sometimes oversize
        case 1: return Mutated(false);                  // any code, headers mangled
        case 2: return Mutated(true);                   // lengths that lie
        case 3: return NoNul();                         // paths without NUL
        case 4: return LongPath();                      // 1,023-byte paths
        case 5: return Bytes(size_t(Int(1037, 1500)), uint8_t(Int(0, 255))); // oversize
        case 6: return Bytes();                          // empty
        default: return Forging();                       // line breaks in client text
        }
    }

private:
    int Int(int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); }
    Bytes RandomBytes(int n) {
        Bytes b(static_cast<size_t>(n));
        for (auto& c : b) c = uint8_t(Int(0, 255));
        return b;
    }
    uint8_t Code() {
        // Mostly the served codes, so the handlers get the hostile input.
        static const uint8_t served[] = {0x10, 0x41, 0x42, 0x43, 0x44, 0x45, 0x46,
                                         0x47, 0x48, 0x49, 0x4A, 0x4B, 0x4C};
        return Int(0, 4) ? served[Int(0, 12)] : uint8_t(Int(0, 255));
    }
    Bytes Path() {
        static const char* paths[] = {"", "/", "..", "a..b", "../x", "..\\x", "/..", "C:\\x",
                                      "Z:\\tmp", "\\\\server\\share", "CON", "NUL", "COM1",
                                      "LPT1", "file:stream", "dir.", "dir ", "x/y/z", "f"};
        std::string p = paths[Int(0, 18)];
        Bytes b(p.begin(), p.end());
        b.push_back(0);
        return b;
    }
    Bytes Mutated(bool lie) {
        Bytes data = Int(0, 1) ? Path() : RandomBytes(Int(0, 1024));
        Bytes extra = RandomBytes(Int(0, 4));
        uint32_t pos = Int(0, 3) ? uint32_t(Int(0, 1 << 20)) : uint32_t(rng());
        if (data.size() + extra.size() > 1024) data.resize(1024 - extra.size());
        Bytes p = Request(Code(), uint16_t(rng()), uint16_t(rng()), pos, data, extra);
        if (lie) {
            // Claim more or fewer data bytes than were sent.
            fsp::PutU16(&p[6], uint32_t(Int(0, 1) ? Int(0, 0xFFFF) : Int(0, int(data.size()))));
        }
        if (Int(0, 9)) Stamp(p);
        return p;
    }
    Bytes NoNul() {
        Bytes data = RandomBytes(Int(1, 300));
        for (auto& c : data)
            if (!c) c = 'n';
        Bytes p = Request(Code(), 1, 1, 0, data);
        return p;
    }
    Bytes LongPath() {
        Bytes data(1023, 'a');
        for (size_t i = 8; i < data.size(); i += 9) data[i] = '/';
        data.push_back(0);
        return Request(Code(), 1, 1, 0, data);
    }
    Bytes Forging() {
        // CR LF, and what readers of UTF-8 or Latin-1 take for line breaks.
        static const char* const breaks[] = {"\r\n", "\xE2\x80\xA8", "\xE2\x80\xA9", "\xC2\x85", "\x85"};
        const std::string b = breaks[Int(0, 4)];
        std::string text = "x" + b + "Thu Jan 04 09:05:00 1996 [6.6.6.6]: forged" + b;
        Bytes data(text.begin(), text.end());
        data.push_back(0);
        return Request(Code(), 1, 1, 0, data);
    }

    std::mt19937 rng;
};
} // namespace

TEST(HostileClient, SurvivesAHundredThousandDatagrams) {
    Settings s;
    s.flags["ReadWrite"] = 1; // every handler is reachable
    Server server(s);
    WriteFile(server.root + "/f", "served file");
    fs::create_directories(server.root + "/x/y");
    WriteFile(server.dir.path + "/outside.txt", "next to the root");
    WriteFile(server.workDir + "/keep.txt", "in the working directory");
    auto before = Snapshot(server.dir.path, server.root);

    Client c(server.port);
    Hostile hostile(20261208);
    const int total = 100000, burst = 50;
    int answered = 0;
    // The key of the last reply, which a hostile client that sees its
    // replies sends, so that the handlers take its datagrams.
    uint16_t key = 0;
    for (int i = 0; i < total; ++i) {
        Bytes p = hostile.Next(i % 8);
        if (p.size() >= 12) {
            bool summed = fsp::CalcChecksum(p.data(), int(p.size()), 0) == p[1];
            fsp::PutU16(&p[2], key);
            if (summed) Stamp(p);
        }
        c.Send(p);
        if ((i + 1) % burst == 0) {
            // Stop and wait: a good request after each burst must be
            // answered. Replies to the burst that arrive first are skipped.
            auto r = c.Transact(Request(0x4A, key, uint16_t(i / burst), 0));
            ASSERT_TRUE(r) << "no answer after datagram " << i;
            key = Decode(*r).key;
            ASSERT_TRUE(server.Running()) << "server ended after datagram " << i;
            ++answered;
        }
    }
    EXPECT_EQ(answered, total / burst);

    auto v = c.Transact(Request(0x10, key, 0xAAAA, 0));
    ASSERT_TRUE(v);
    EXPECT_EQ(Decode(*v).DataText(), "VrelFSPd for Win95 v1.0b3 Dec 18 1995");
    EXPECT_EQ(server.Stop(), 0);

    // Nothing outside the root changed but the log; the working directory
    // holds no temporary file once the server has ended.
    auto after = Snapshot(server.dir.path, server.root);
    for (auto* snap : {&before, &after}) {
        snap->erase(server.logFile);
        snap->erase(server.dir.path + "/wine.out");
    }
    EXPECT_EQ(after, before);

    std::string bad, log = server.Log();
    auto bodies = LogBodies(log, &bad);
    EXPECT_EQ(bad, "") << "a log line without a time stamp";
    for (const char* b : {"\xE2\x80\xA8", "\xE2\x80\xA9", "\x85"}) EXPECT_EQ(log.find(b), std::string::npos);
    EXPECT_GT(bodies.size(), 1000u);
    // Between the server's own first and last lines, only clients' lines.
    EXPECT_TRUE(bodies.front().rfind("Serving UDP port ", 0) == 0 && bodies.back().rfind("Stopped serving", 0) == 0);
    for (size_t i = 1; i + 1 < bodies.size(); ++i) ASSERT_EQ(bodies[i].rfind("[127.0.0.1]: ", 0), 0u) << bodies[i];
}

// Who may use the server: the host table in privilege mode, each rule
// type once, and refusals logged once however often they come.
TEST(Access, TheHostTableServesIgnoresAndDeniesAndPrivilegeModeKeepsOutTheRest) {
    Settings s;
    s.flags["PrivMode"] = 1;
    s.values = {{"Server", "Hosts", "REG_MULTI_SZ", "127.0.0.5 D Go away\\0127.0.0.6 I\\0127.0.0.0/29 N"}};
    Server server(s);
    Raw denied(server.port, "127.0.0.5"), served(server.port, "127.0.0.7");
    for (int i = 0; i < 2; ++i) ExpectError(denied.Ask(0x10), "Go away");
    EXPECT_EQ(served.Ask(0x10).command, 0x10);
    for (const char* quiet : {"127.0.0.6", "127.0.0.9"}) {
        Client c(server.port, quiet);
        for (int i = 0; i < 20; ++i) c.Send(Request(0x10, 0, uint16_t(i), 0));
        EXPECT_FALSE(c.Receive(std::chrono::milliseconds(1500))) << quiet;
    }
    EXPECT_EQ(served.Ask(0x10).command, 0x10);
    EXPECT_EQ(server.Stop(), 0);
    std::string log = server.Log();
    auto count = [&](const std::string& line) {
        size_t n = 0;
        for (size_t at = log.find(line); at != std::string::npos; at = log.find(line, at + 1)) ++n;
        return n;
    };
    EXPECT_EQ(count("[127.0.0.5]: Denied: Go away"), 1u) << log;
    EXPECT_EQ(count("[127.0.0.6]: Ignored by the host table"), 1u) << log;
    EXPECT_EQ(count("[127.0.0.9]: Ignored by the host table"), 1u) << log;
}

// A forger who cannot see the replies floods with the smallest listing
// request from an address: beyond the first burst of new sessions only 8
// replies a second reach that address, and a real client there, which
// echoes its keys, is not slowed.
TEST(Access, AForgedFloodGetsATrickleAndTheRealClientIsServed) {
    Server server;
    WriteFile(server.root + "/big", std::string(1024, 'x'));
    for (int i = 0; i < 40; ++i) WriteFile(server.root + "/file-with-a-long-name-" + std::to_string(i), "");
    Raw real(server.port, "127.0.0.9");
    ASSERT_EQ(real.Ask(0x41, Text("")).command, 0x41);
    Client forger(server.port, "127.0.0.9");
    std::mt19937 rng(7);
    const Bytes probe = Request(0x41, 0, 0, 0, Text(""));
    size_t sent = 0, replies = 0, bytes = 0;
    auto start = std::chrono::steady_clock::now();
    const auto flood = std::chrono::seconds(3);
    while (std::chrono::steady_clock::now() - start < flood) {
        forger.Send(Request(0x41, uint16_t(rng()), uint16_t(sent), 0, Text("")));
        ++sent;
        while (auto r = forger.Receive(std::chrono::milliseconds(0))) ++replies, bytes += r->size();
        if (sent % 64 == 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    while (auto r = forger.Receive(std::chrono::milliseconds(500))) ++replies, bytes += r->size();
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("forged flood: %zu requests of %zu bytes, %zu replies, %zu bytes to the forged address "
                "in %.1f s (%.0f bytes/s)\n",
                sent, probe.size(), replies, bytes, seconds, bytes / seconds);
    EXPECT_GT(sent, 1000u);
    EXPECT_LE(replies, 100 + 8 * size_t(seconds + 1));
    // The real client, at the flooded address, goes on with its key.
    auto before = std::chrono::steady_clock::now();
    for (int i = 0; i < 20; ++i) ASSERT_EQ(real.Ask(0x42, Text("big")).command, 0x42);
    EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::seconds(2));
    // The harness's own requests, from another address, were never held up either.
    EXPECT_EQ(server.Stop(), 0);
    std::string log = server.Log();
    EXPECT_EQ(log.find("beyond the new sessions"), log.rfind("beyond the new sessions")) << "logged once";
    EXPECT_NE(log.find("[127.0.0.9]: Requests with a key"), std::string::npos);
}

// Name Required: an address with a reverse name is served once it is
// known; one without is told so.
TEST(Access, NameRequiredServesNamedAddressesAndRefusesTheOthers) {
    Settings s;
    s.flags["RevName"] = 1;
    Server server(s); // the harness asks from 127.0.0.1, "localhost"
    Raw named(server.port, "127.0.0.1"), unnamed(server.port, "127.0.0.77");
    EXPECT_EQ(named.Ask(0x10).command, 0x10);
    Reply r;
    ASSERT_TRUE(WaitFor([&] { return (r = unnamed.Ask(0x10)).checksumOk; }, std::chrono::seconds(60)));
    ExpectError(r, "Name Required: your address has no name");
}

// Throughput control: the version reply carries the limit, and a download
// takes as long as the limit says.
TEST(Access, ThroughputControlAdvertisesAndKeepsTheLimit) {
    Settings s;
    s.flags["ThruOut"] = 1;
    s.values = {{"Server", "ThruPut", "REG_DWORD", "100000"}};
    Server server(s);
    WriteFile(server.root + "/f", Pattern(300 * 1024, 3));
    Raw raw(server.port);
    Reply v = raw.Ask(0x10);
    ASSERT_EQ(v.extra.size(), 7u);
    EXPECT_EQ(v.position, 7u);
    EXPECT_EQ(v.extra[0] & 0x10, 0x10);
    EXPECT_EQ(fsp::GetU32(&v.extra[1]), 100000u); // then the packet size
    EXPECT_EQ(fsp::GetU16(&v.extra[5]), 1452u);
    auto start = std::chrono::steady_clock::now();
    size_t got = 0;
    for (uint32_t at = 0; at < 300 * 1024; at += 1024) got += raw.Ask(0x42, Text("f"), at).data.size();
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_EQ(got, 300u * 1024);
    std::printf("300 KiB at a limit of 100,000 bytes a second: %.2f s\n", seconds);
    EXPECT_GT(seconds, 2.8); // 307,200 bytes and 3,600 of headers, less the first 5,000 at once
    EXPECT_LT(seconds, 4.0);
}
