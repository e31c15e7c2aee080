// Load: two and then eight clients at once against one vfspd.exe under
// Wine, each a stop-and-wait FSP client on its own port that mixes version
// requests, whole listings, whole downloads and uploads with installs.
// Every request must be answered with its own sequence, at the client
// that asked (which sends back the key of the last reply), with the content it asked for; every file must
// arrive byte-identical; and the server's memory must not grow.
//
// VFSPD_LOAD_REQUESTS sets the requests per client (default 1,500) and
// VFSPD_LOAD_SECONDS a least duration of each phase (default 0): the
// clients go on past their count until that much time has passed.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "Harness.h"
#include "engine/core/Packet.h"
#include "engine/core/Policy.h"

using namespace e2e;
namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {
long EnvNumber(const char* name, long fallback) {
    const char* v = std::getenv(name);
    if (!v || !*v) return fallback;
    char* end = nullptr;
    long n = std::strtol(v, &end, 10);
    return (end && *end == '\0' && n >= 0) ? n : fallback;
}

const long kRequests = EnvNumber("VFSPD_LOAD_REQUESTS", 1500);
const long kSeconds = EnvNumber("VFSPD_LOAD_SECONDS", 0);
// A lost datagram is resent after this long, as FSP clients do; a
// request still unanswered after all attempts counts as lost.
const auto kResendAfter = std::chrono::milliseconds(1000);
const int kAttempts = 20;
// Growth of the server's resident set allowed from the first quarter of a
// phase to its last.
const long kMarginKiB = 8 * 1024;
const char kListDir[] = "list";
const char kUploadDir[] = "up";

std::string RandomContent(size_t n, std::mt19937& rng) {
    std::string s(n, '\0');
    for (char& c : s) c = char(rng());
    return s;
}

// What the served tree holds, set up once before the server is loaded.
struct Corpus {
    struct Entry {
        uint8_t type;
        uint32_t size, time;
    };
    std::map<std::string, Entry> listing;     // "list" as it must be listed
    std::map<std::string, std::string> files; // request path to content

    void Make(const std::string& root) {
        std::mt19937 rng(7);
        fs::create_directories(root + "/" + kListDir);
        fs::create_directories(root + "/" + kUploadDir);
        listing["."] = {2, 0, 0};
        listing[".."] = {2, 0, 0};
        for (int i = 0; i < 320; ++i) {
            // Names of 5 to 64 characters, so entries cross block edges at
            // every offset.
            std::string name = "entry-" + std::to_string(i) + "-" + std::string(size_t(i * 7 % 58), 'n');
            std::string p = root + "/" + kListDir + "/" + name;
            if (i % 16 == 0) {
                fs::create_directories(p);
            } else {
                WriteFile(p, std::string(size_t(i * 13 % 5000), 'l'));
            }
            struct stat st;
            ASSERT_EQ(stat(p.c_str(), &st), 0);
            bool dir = S_ISDIR(st.st_mode);
            listing[name] = {uint8_t(dir ? 2 : 1), dir ? 0u : uint32_t(st.st_size), uint32_t(st.st_mtime)};
        }
        fs::create_directories(root + "/files");
        for (size_t n : {0, 1, 511, 512, 1023, 1024, 1025, 3000, 8192, 20000}) {
            std::string name = "files/d" + std::to_string(n);
            files[name] = RandomContent(n, rng);
            WriteFile(root + "/" + name, files[name]);
        }
    }
};

// Resident set of a process in KiB, or -1 once it is gone.
long RssKiB(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(in, line))
        if (line.rfind("VmRSS:", 0) == 0) return std::atol(line.c_str() + 6);
    return -1;
}

// Samples a process's resident set at a fixed interval until stopped.
class RssSampler {
public:
    explicit RssSampler(pid_t pid) : pid(pid), start(Clock::now()), thread([this] { Run(); }) {}
    ~RssSampler() { Stop(); }
    void Stop() {
        {
            std::lock_guard<std::mutex> lock(mutex);
            stopping = true;
        }
        wake.notify_all();
        if (thread.joinable()) thread.join();
    }
    // Largest sample in the fraction [from, to) of the sampled time.
    long MaxIn(double from, double to) const {
        double total = samples.empty() ? 0 : samples.back().first;
        long m = -1;
        for (const auto& [t, kib] : samples)
            if (t >= from * total && (t < to * total || to >= 1)) m = std::max(m, kib);
        return m;
    }
    size_t Count() const { return samples.size(); }

private:
    void Run() {
        std::unique_lock<std::mutex> lock(mutex);
        do {
            double t = std::chrono::duration<double>(Clock::now() - start).count();
            samples.emplace_back(t, RssKiB(pid));
        } while (!wake.wait_for(lock, std::chrono::milliseconds(20), [this] { return stopping; }));
    }

    pid_t pid;
    Clock::time_point start;
    std::vector<std::pair<double, long>> samples; // seconds, KiB
    std::mutex mutex;
    std::condition_variable wake;
    bool stopping = false;
    std::thread thread;
};

// One FSP client: its own connected socket, its own keys, strictly one
// request in flight.
class LoadClient {
public:
    // Names of installed files begin with tag, which tells phases apart.
    LoadClient(int id, const std::string& tag, uint16_t port, const std::string& root, const Corpus& corpus,
               unsigned seed)
        : id(id), tag(tag), root(root), corpus(corpus), rng(seed), wire(port), keyOf(65536), sent(65536) {}

    // Runs operations until at least `atLeast` requests have been sent and
    // the deadline has passed, or until the first fault.
    void Run(long atLeast, Clock::time_point notBefore) {
        while (ok() && (requests < atLeast || Clock::now() < notBefore)) {
            int pick = Int(0, 9);
            if (pick < 3) Version();
            else if (pick < 5) List();
            else if (pick < 8) Download();
            else Upload();
        }
    }

    bool ok() const { return fault.empty(); }
    std::string fault;
    long requests = 0, resends = 0, late = 0;
    long versions = 0, listings = 0, downloads = 0, uploads = 0, bytesDown = 0, bytesUp = 0;
    // Every file this client installed: request path to content.
    std::map<std::string, std::string> installed;

private:
    int Int(int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); }

    void Fail(const std::string& what) {
        if (fault.empty()) fault = "client " + std::to_string(id) + ", request " + std::to_string(requests) + ": " + what;
    }

    // Sends one request and waits for its reply, resending after a
    // timeout. Every datagram that arrives must be the reply to this
    // request or a late copy of the reply to an earlier one of this
    // client.
    std::optional<Reply> Call(uint8_t command, uint32_t position, const Bytes& data, const Bytes& extra = {}) {
        if (!ok()) return std::nullopt;
        uint16_t seq = uint16_t(requests);
        // The key of the last reply, sent back as clients do.
        uint16_t key = lastKey;
        keyOf[seq] = key;
        sent[seq] = true;
        ++requests;
        Bytes request = Request(command, key, seq, position, data, extra);
        for (int attempt = 0; attempt < kAttempts; ++attempt) {
            lastResent = attempt > 0;
            if (attempt) ++resends;
            wire.Send(request);
            auto end = Clock::now() + kResendAfter;
            for (;;) {
                auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now());
                if (left.count() <= 0) break;
                auto d = wire.Receive(left);
                if (!d) break;
                if (d->size() < size_t(fsp::kHeaderSize)) {
                    Fail("short datagram of " + std::to_string(d->size()) + " bytes");
                    return std::nullopt;
                }
                Reply r = Decode(*d);
                if (!r.checksumOk) {
                    Fail("reply with a bad checksum");
                    return std::nullopt;
                }
                if (!sent[r.sequence]) {
                    char text[120];
                    std::snprintf(text, sizeof(text), "reply of sequence %u key %u is to no request of this client",
                                  r.sequence, r.key);
                    Fail(text);
                    return std::nullopt;
                }
                if (r.sequence == seq) {
                    lastKey = r.key;
                    return r;
                }
                ++late; // the first answer to a request that was resent
            }
        }
        Fail("no reply to command " + std::to_string(command) + " after " + std::to_string(kAttempts) + " attempts");
        return std::nullopt;
    }

    static Bytes Pref(uint16_t size) { return Bytes{uint8_t(size >> 8), uint8_t(size)}; }

    void Version() {
        auto r = Call(fsp::CC_VERSION, 0, {});
        if (!r) return;
        if (r->command != fsp::CC_VERSION || r->DataText() != fsp::kVersionText)
            return Fail("version reply " + std::to_string(r->command) + " '" + r->DataText() + "'");
        ++versions;
    }

    // A whole listing read block by block, parsed and compared with what
    // the directory holds.
    void List() {
        static const uint16_t sizes[] = {1024, 512, 768, 300};
        uint16_t block = sizes[Int(0, 3)];
        Bytes stream;
        for (;;) {
            uint32_t at = uint32_t(stream.size());
            auto r = Call(fsp::CC_GET_DIR, at, Text(kListDir), Pref(block));
            if (!r) return;
            if (r->command != fsp::CC_GET_DIR) return Fail("listing reply " + std::to_string(r->command) + " '" + r->DataText() + "'");
            if (r->position != at) return Fail("listing block at " + std::to_string(r->position) + " for " + std::to_string(at));
            if (r->data.size() > block) return Fail("listing block longer than asked for");
            stream.insert(stream.end(), r->data.begin(), r->data.end());
            if (r->data.size() < block) break;
        }
        std::map<std::string, int> seen;
        size_t pos = 0;
        bool ended = false;
        while (pos + 9 <= stream.size()) {
            uint8_t type = stream[pos + 8];
            if (type == 0) {
                ended = true;
                break;
            }
            if (type == 0x2A) {
                pos = (pos / block + 1) * block;
                continue;
            }
            auto nul = std::find(stream.begin() + long(pos) + 9, stream.end(), 0);
            if (nul == stream.end()) return Fail("listing entry without its NUL");
            std::string name(stream.begin() + long(pos) + 9, nul);
            auto want = corpus.listing.find(name);
            if (want == corpus.listing.end()) return Fail("listing holds unknown entry '" + name + "'");
            const Corpus::Entry& w = want->second;
            bool synthetic = name == "." || name == "..";
            if (stream[pos + 8] != w.type || fsp::GetU32(&stream[pos + 4]) != w.size ||
                (!synthetic && fsp::GetU32(&stream[pos]) != w.time))
                return Fail("listing entry '" + name + "' with wrong type, size or time");
            ++seen[name];
            pos = (pos + 9 + name.size() + 1 + 3) & ~size_t(3);
        }
        if (!ended) return Fail("listing without its end marker");
        if (seen.size() != corpus.listing.size()) return Fail("listing of " + std::to_string(seen.size()) + " entries");
        for (const auto& [name, n] : seen)
            if (n != 1) return Fail("listing holds '" + name + "' " + std::to_string(n) + " times");
        ++listings;
    }

    // A whole file read block by block; every block must be the file's
    // bytes at the position it was asked for.
    void Download() {
        // Mostly the served files, sometimes one this client installed.
        const std::map<std::string, std::string>& from =
            installed.empty() || Int(0, 3) ? corpus.files : installed;
        auto it = from.begin();
        std::advance(it, Int(0, int(from.size()) - 1));
        const std::string& want = it->second;
        static const uint16_t sizes[] = {1024, 512, 1000, 256};
        uint16_t block = sizes[Int(0, 3)];
        std::string got;
        for (;;) {
            uint32_t at = uint32_t(got.size());
            auto r = Call(fsp::CC_GET_FILE, at, Text(it->first), Pref(block));
            if (!r) return;
            if (r->command != fsp::CC_GET_FILE) return Fail("download reply " + std::to_string(r->command) + " '" + r->DataText() + "' for " + it->first);
            if (r->position != at) return Fail("download block at " + std::to_string(r->position) + " for " + std::to_string(at));
            std::string part(r->data.begin(), r->data.end());
            if (part != want.substr(std::min<size_t>(at, want.size()), block))
                return Fail("download of " + it->first + " at " + std::to_string(at) + " differs from the file");
            got += part;
            if (part.size() < block) break;
        }
        if (got != want) return Fail("download of " + it->first + " differs from the file");
        ++downloads;
        bytesDown += long(got.size());
    }

    // A new file sent in pieces, installed under a name of this client,
    // and compared with what landed on disk.
    void Upload() {
        std::string content = RandomContent(size_t(Int(0, 6000)), rng);
        static const uint16_t sizes[] = {1024, 512, 700};
        size_t piece = sizes[Int(0, 2)];
        size_t at = 0;
        do { // an empty file is one empty piece
            Bytes data(content.begin() + long(at), content.begin() + long(std::min(content.size(), at + piece)));
            auto r = Call(fsp::CC_UP_LOAD, uint32_t(at), data);
            if (!r) return;
            if (r->command != fsp::CC_UP_LOAD || r->position != at)
                return Fail("upload reply " + std::to_string(r->command) + " at " + std::to_string(r->position) +
                            " for " + std::to_string(at) + " '" + r->DataText() + "'");
            at += data.size();
        } while (at < content.size());
        char name[64];
        std::snprintf(name, sizeof(name), "%s/%s-c%d-%06ld", kUploadDir, tag.c_str(), id, uploads);
        auto r = Call(fsp::CC_INSTALL, 0, Text(name));
        if (!r) return;
        // A resent install that finds its upload already done is refused;
        // the file on disk is what counts then.
        if (r->command != fsp::CC_INSTALL && !(r->command == fsp::CC_ERR && lastResent))
            return Fail(std::string("install of ") + name + ": " + std::to_string(r->command) + " '" + r->DataText() + "'");
        std::string path = root + "/" + name;
        if (!Exists(path)) return Fail(std::string("installed file missing: ") + name);
        if (ReadFile(path) != content) return Fail(std::string("installed file differs: ") + name);
        installed[name] = content;
        ++uploads;
        bytesUp += long(content.size());
    }

    int id;
    std::string tag;
    std::string root;
    const Corpus& corpus;
    std::mt19937 rng;
    Client wire;
    std::vector<uint16_t> keyOf; // by sequence: the key last sent with it
    uint16_t lastKey = 0;        // of the last reply
    std::vector<bool> sent;      // by sequence: sent at least once
    bool lastResent = false;     // the last request answered was sent more than once
};

class Load : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        Settings s; // uploads allowed, logging on
        server = new Server(s);
        corpus = new Corpus;
        corpus->Make(server->root);
    }
    static void TearDownTestSuite() {
        EXPECT_EQ(server->Stop(), 0);
        delete server;
        delete corpus;
        server = nullptr;
        corpus = nullptr;
    }

    // One phase: `clients` at once, each with its own port.
    void Phase(int clients) {
        ASSERT_NE(server, nullptr);
        ASSERT_TRUE(server->Running());
        std::vector<std::unique_ptr<LoadClient>> all;
        for (int i = 0; i < clients; ++i)
            all.push_back(std::make_unique<LoadClient>(i, "p" + std::to_string(clients), server->port,
                                                       server->root, *corpus,
                                                       unsigned(clients * 100 + i)));
        // The memory measured is the server's own: Wine runs vfspd.exe in
        // the process it was started as.
        ASSERT_NE(ReadFile("/proc/" + std::to_string(server->Pid()) + "/cmdline").find("vfspd.exe"),
                  std::string::npos);
        RssSampler rss(server->Pid());
        auto t0 = Clock::now();
        auto notBefore = t0 + std::chrono::seconds(kSeconds);
        std::vector<std::thread> threads;
        for (auto& c : all) threads.emplace_back([&c, notBefore] { c->Run(kRequests, notBefore); });
        for (auto& t : threads) t.join();
        double seconds = std::chrono::duration<double>(Clock::now() - t0).count();
        rss.Stop();

        long requests = 0, resends = 0, late = 0;
        long versions = 0, listings = 0, downloads = 0, uploads = 0, down = 0, up = 0;
        for (auto& c : all) {
            EXPECT_TRUE(c->ok()) << c->fault;
            EXPECT_GE(c->requests, kRequests);
            requests += c->requests;
            resends += c->resends;
            late += c->late;
            versions += c->versions;
            listings += c->listings;
            downloads += c->downloads;
            uploads += c->uploads;
            down += c->bytesDown;
            up += c->bytesUp;
        }
        long first = rss.MaxIn(0, 0.25), last = rss.MaxIn(0.75, 1);
        std::printf("load: clients %d, requests %ld, resends %ld, late replies %ld, seconds %.1f, req/s %.0f, "
                    "RSS first %.1f MiB, last %.1f MiB (%zu samples)\n",
                    clients, requests, resends, late, seconds, requests / seconds, first / 1024.0, last / 1024.0,
                    rss.Count());
        std::printf("load: %ld versions, %ld listings, %ld downloads (%ld bytes), %ld uploads (%ld bytes)\n",
                    versions, listings, downloads, down, uploads, up);
        std::fflush(stdout);

        EXPECT_TRUE(server->Running()) << "the server ended under load";
        EXPECT_GE(seconds, double(kSeconds));
        // Every kind of request was made and came back whole.
        EXPECT_GT(versions, 0);
        EXPECT_GT(listings, 0);
        EXPECT_GT(downloads, 0);
        EXPECT_GT(uploads, 0);
        // Resends are for the rare lost datagram, not a way of life.
        EXPECT_LE(resends, requests / 100 + 5);
        ASSERT_GE(rss.Count(), 8u);
        EXPECT_GT(first, 0) << "no resident set read for the server";
        EXPECT_LE(last, first + kMarginKiB) << "the server's memory grew under load";

        // Every file installed is still there, byte for byte, and no
        // upload left a temporary file behind.
        for (auto& c : all)
            for (const auto& [name, content] : c->installed)
                EXPECT_EQ(ReadFile(server->root + "/" + name), content) << name;
        for (const auto& e : fs::directory_iterator(server->workDir)) {
            std::string n = e.path().filename().string();
            EXPECT_FALSE(n.size() > 4 && (n.compare(0, 3, "FSP") == 0 || n.compare(0, 3, "fsp") == 0) &&
                         n.compare(n.size() - 4, 4, ".tmp") == 0)
                << "temporary file left behind: " << n;
        }
    }

    static Server* server;
    static Corpus* corpus;
};

Server* Load::server = nullptr;
Corpus* Load::corpus = nullptr;
} // namespace

TEST_F(Load, TwoClientsAtOnce) { Phase(2); }

TEST_F(Load, EightClientsAtOnce) { Phase(8); }
