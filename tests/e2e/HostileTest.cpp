// A hostile client: a hundred thousand datagrams of every malformed kind.
// The server must keep answering, never end, touch nothing outside its
// root, and let no client text forge a line of its log.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>
#include <map>
#include <random>

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
    for (int i = 0; i < total; ++i) {
        c.Send(hostile.Next(i % 8));
        if ((i + 1) % burst == 0) {
            // Stop and wait: a good request after each burst must be
            // answered. Replies to the burst that arrive first are skipped.
            auto r = c.Transact(Request(0x4A, 0, uint16_t(i / burst), 0));
            ASSERT_TRUE(r) << "no answer after datagram " << i;
            ASSERT_TRUE(server.Running()) << "server ended after datagram " << i;
            ++answered;
        }
    }
    EXPECT_EQ(answered, total / burst);

    auto v = c.Transact(Request(0x10, 0, 0xAAAA, 0));
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
