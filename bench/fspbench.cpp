// Measures vfspd.exe under Wine against the bare echo (bench/echo.cpp), a
// window that answers each datagram at once, run side by side with it.
// Stop-and-wait clients on 127.0.0.1, one and then eight at once, drive
// both in turns; figures are medians of the runs.
// The streaming reader's pattern is measured against the FSP suite's server
// when VFSPD_BENCH_FSPD names its fspd (built apart; never needed), else
// against the echo; VFSPD_BENCH_PROGRAM runs another vfspd.exe (an older
// build, for figures before and after).
// Usage: fspbench [runs] [quick|stream]   ("quick": the version rows alone;
// "stream": the streaming rows alone)
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

extern "C" {
#include <fsplib.h>
}

#include "engine/core/Packet.h"
#include "tests/e2e/Harness.h"

#ifndef VFSPD_WIN_DIR
#error "VFSPD_WIN_DIR names the Windows build tree"
#endif

using namespace e2e;
using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

namespace {
// A bare stop-and-wait client: the fewest instructions per round trip.
class Wire {
public:
    explicit Wire(uint16_t port) {
        fd = socket(AF_INET, SOCK_DGRAM, 0);
        sockaddr_in a = {};
        a.sin_family = AF_INET;
        a.sin_port = htons(port);
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof(a));
    }
    ~Wire() { close(fd); }
    // Sends and waits for the reply with the same sequence; resends after
    // 500 ms. Returns the reply's size. The request goes with the key of
    // the last reply, as FSP clients send it.
    int Call(Bytes request, unsigned char* reply) {
        uint16_t seq = fsp::GetU16(request.data() + 4);
        fsp::PutU16(request.data() + 2, key);
        request[1] = 0;
        request[1] = uint8_t(fsp::CalcChecksum(request.data(), int(request.size()), 0));
        for (int attempt = 0; attempt < 20; ++attempt) {
            send(fd, request.data(), request.size(), 0);
            pollfd p{fd, POLLIN, 0};
            while (poll(&p, 1, 500) > 0) {
                ssize_t n = recv(fd, reply, 2048, 0);
                if (n >= 12 && fsp::GetU16(reply + 4) == seq) {
                    key = fsp::GetU16(reply + 2);
                    return int(n);
                }
            }
            ++resends;
        }
        std::fprintf(stderr, "fspbench: no reply after 20 tries; is the server up?\n");
        std::exit(1);
    }
    long resends = 0;

private:
    int fd;
    uint16_t key = 0;
};

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

double Percentile(std::vector<double> v, double p) {
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, size_t(p * double(v.size())))];
}

double Seconds(const std::function<void()>& f) {
    auto t0 = Clock::now();
    f();
    return std::chrono::duration<double>(Clock::now() - t0).count();
}

long PeakKiB(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(in, line))
        if (line.rfind("VmHWM:", 0) == 0) return std::atol(line.c_str() + 6);
    return -1;
}

const int kVersions = 5000;
const size_t kFile = 5u << 20;
const int kBlocks = int(kFile / 1024);
const int kFloodEntries = 20000;
const int kHonest = 2000;
const size_t kTurn = 100; // requests each client sends a server in a row
const int kCrowd = 8;     // clients at once

// A workload: the requests one client sends, in order. With `of` clients
// at once each sends its share, so a row's total stays the same.
using Requests = std::vector<Bytes>;

Requests Versions(int of) {
    Requests r;
    for (int i = 0; i < kVersions / of; ++i) r.push_back(Request(0x10, 0, uint16_t(i), 0));
    return r;
}

// The client's share of the file, block by block; one client reads on to
// the empty block at the end.
Requests Download(const std::string& name, int client, int of) {
    Requests r;
    int first = client * kBlocks / of, last = (client + 1) * kBlocks / of + (of == 1 ? 1 : 0);
    for (int i = first; i < last; ++i) r.push_back(Request(0x42, 0, uint16_t(i), uint32_t(i) * 1024, Text(name)));
    return r;
}

// A file of the client's share in pieces, and its install.
Requests Upload(const std::string& name, int of) {
    Requests r;
    Bytes piece(1024, 'u');
    for (int i = 0; i < kBlocks / of; ++i) r.push_back(Request(0x43, 0, uint16_t(i), uint32_t(i) * 1024, piece));
    r.push_back(Request(0x44, 0, 1, 0, Text(name)));
    return r;
}

// Reads a whole listing as libfsplib does: from position 0, each next
// request at the sum of the block lengths so far, until a short block.
int List(Wire& w, const std::string& dir) {
    unsigned char r[2048];
    uint32_t pos = 0;
    int blocks = 0;
    for (;;) {
        int n = w.Call(Request(0x41, 0, uint16_t(blocks), pos, Text(dir)), r);
        ++blocks;
        int len = fsp::GetU16(r + 6);
        if (r[0] != 0x41 || len < 1024 || n < 12) break;
        pos += uint32_t(len);
    }
    return blocks;
}

// Round trips of version requests, in milliseconds.
std::vector<double> VersionTrips(Wire& w, int count) {
    unsigned char r[2048];
    std::vector<double> ms;
    for (int i = 0; i < count; ++i) {
        auto t0 = Clock::now();
        w.Call(Request(0x10, 0, uint16_t(i), 0), r);
        ms.push_back(std::chrono::duration<double, std::milli>(Clock::now() - t0).count());
    }
    return ms;
}

void MakeEntries(const std::string& dir, int n) {
    fs::create_directories(dir);
    for (int i = 0; i < n; ++i) std::ofstream(dir + "/entry-" + std::to_string(i) + ".txt");
}

// Makes the next listing of dir a fresh one: an entry made and removed
// moves the directory's time, so no kept listing serves it.
void Touch(const std::string& dir) {
    std::string f = dir + "/.touch";
    std::ofstream(f).put('t');
    fs::remove(f);
}

// Seconds a real client takes to fetch `name` whole, median of `runs`.
double Fetch(const std::function<bool()>& fetch, int runs) {
    std::vector<double> t;
    for (int i = 0; i < runs; ++i) t.push_back(Seconds([&] {
        if (!fetch()) {
            std::fprintf(stderr, "fspbench: a client's download failed\n");
            std::exit(1);
        }
    }));
    return Median(t);
}

bool FsplibGet(uint16_t port, const char* name, size_t size) {
    FSP_SESSION* s = fsp_open_session("127.0.0.1", port, nullptr);
    if (!s) return false;
    size_t got = 0;
    if (FSP_FILE* f = fsp_fopen(s, name, "rb")) {
        char buffer[4096];
        size_t n;
        while ((n = fsp_fread(buffer, 1, sizeof(buffer), f)) > 0) got += n;
        fsp_fclose(f);
    }
    fsp_close_session(s);
    return got == size;
}

// The streaming reader of disc images: 32 KiB reads at random 2 KiB-aligned
// offsets, each read as requests for 1,460 bytes (one Ethernet frame), of
// whose replies it keeps the length rounded down to 32 bytes, reading on
// from there. It sends the key of the last reply it got, as FSP clients do.
struct Streamed {
    double bytesPerTrip = 0, megabytesPerSecond = 0;
};
Streamed Stream(Client& c, uint16_t& key, const std::string& name, uint64_t fileSize, int reads, unsigned seed) {
    std::mt19937 rng(seed);
    uint16_t seq = 0;
    long trips = 0;
    uint64_t kept = 0;
    const Bytes path = Text(name);
    double seconds = Seconds([&] {
        for (int i = 0; i < reads; ++i) {
            uint64_t offset = uint64_t(rng() % ((fileSize - 32768) / 2048)) * 2048;
            for (uint32_t done = 0; done < 32768;) {
                uint16_t want = uint16_t(std::min<uint32_t>(1460, 32768 - done));
                auto d = c.Transact(Request(0x42, key, ++seq, uint32_t(offset + done), path,
                                            Bytes{uint8_t(want >> 8), uint8_t(want)}));
                if (!d || (*d)[0] != 0x42 || d->size() < 12 + 32) {
                    std::fprintf(stderr, "fspbench: the streaming read failed\n");
                    std::exit(1);
                }
                key = fsp::GetU16(d->data() + 2);
                done += uint32_t(d->size() - 12) & ~31u;
                ++trips;
            }
            kept += 32768;
        }
    });
    return {double(kept) / double(trips), double(kept) / seconds / 1e6};
}

// Starts the FSP suite's server on root, or returns -1 when none is named.
pid_t StartFspd(const std::string& root, uint16_t port, const TempDir& dir) {
    const char* fspd = std::getenv("VFSPD_BENCH_FSPD");
    if (!fspd || !*fspd) return -1;
    fs::create_directories(dir.path + "/tmp");
    std::ofstream(dir.path + "/fspd.conf") << "port " << port << "\nhomedir " << root << "\ntmpdir " << dir.path
                                           << "/tmp\npidlogname " << dir.path << "/fspd.pid\nuse_access_files yes\n"
                                           << "daemonize no\nlogfile " << dir.path << "/fspd.log\n";
    pid_t pid = fork();
    if (pid == 0) {
        // Its statistics at the end are not the benchmark's.
        int quiet = open("/dev/null", O_WRONLY);
        dup2(quiet, 1);
        dup2(quiet, 2);
        execl(fspd, fspd, "-F", "-f", (dir.path + "/fspd.conf").c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    return pid;
}

void StreamRows(uint16_t vfspdPort, const std::string& root, uint16_t echoPort, int runs) {
    const uint64_t size = fs::file_size(root + "/big.bin");
    TempDir fspdDir;
    uint16_t fspdPort = FreeUdpPort();
    pid_t fspd = StartFspd(root, fspdPort, fspdDir);
    struct Row {
        const char* name;
        uint16_t port;
    } rows[] = {{"vfspd", vfspdPort}, {fspd > 0 ? "FSP suite's fspd (native)" : "bare echo", fspd > 0 ? fspdPort : echoPort}};
    // One client and key per server throughout: the FSP suite's server
    // ignores for a while a host's requests that bear another key.
    Client client[2] = {Client(vfspdPort), Client(rows[1].port)};
    uint16_t key[2] = {0, 0};
    if (fspd > 0 && !WaitFor([&] {
            auto d = client[1].Transact(Request(0x10, 0, 1, 0));
            if (d) key[1] = fsp::GetU16(d->data() + 2);
            return bool(d);
        })) {
        std::fprintf(stderr, "fspbench: fspd does not answer\n");
        std::exit(1);
    }
    std::printf("\nThe streaming reader: %d runs of 200 reads of 32 KiB at random 2 KiB-aligned\n"
                "offsets of a %.0f MiB file, requests for 1,460 bytes, each reply kept rounded\n"
                "down to 32 bytes; medians.\n\n",
                runs, double(size) / (1 << 20));
    std::printf("%-28s %14s %9s\n", "server", "bytes/trip", "MB/s");
    for (int k = 0; k < 2; ++k) {
        const Row& r = rows[k];
        std::vector<double> perTrip, rate;
        for (int run = 0; run < runs; ++run) {
            Streamed st = Stream(client[k], key[k], "big.bin", size, 200, unsigned(run + 1));
            perTrip.push_back(st.bytesPerTrip);
            rate.push_back(st.megabytesPerSecond);
        }
        std::printf("%-28s %14.1f %9.2f\n", r.name, Median(perTrip), Median(rate));
        std::fflush(stdout);
    }
    if (fspd > 0) {
        kill(fspd, SIGTERM);
        waitpid(fspd, nullptr, 0);
    }
}

bool ElinksGet(uint16_t port, const char* name, size_t size) {
    std::string command = "elinks -no-home -source fsp://127.0.0.1:" + std::to_string(port) + "/" + name;
    FILE* p = popen(command.c_str(), "r");
    if (!p) return false;
    size_t got = 0, n;
    char buffer[65536];
    while ((n = std::fread(buffer, 1, sizeof(buffer), p)) > 0) got += n;
    return pclose(p) == 0 && got == size;
}
} // namespace

// Throughput control at a limit of 1,000,000 bytes a second: one client,
// then eight at once, each downloading nonstop for some seconds; the
// bytes each received (whole datagrams, as the limit counts them).
void ThroughputRows(double seconds) {
    const uint32_t limit = 1000000;
    Settings settings;
    settings.flags["Logging"] = 0;
    settings.flags["ThruOut"] = 1;
    settings.values = {{"Server", "ThruPut", "REG_DWORD", std::to_string(limit)}};
    Server server(settings);
    std::ofstream(server.root + "/t.bin", std::ios::binary) << std::string(1 << 20, 't');
    std::printf("\nThroughput control at a limit of %u bytes a second: stop-and-wait clients\n"
                "downloading 1 KiB blocks nonstop for %.0f s; bytes received a second.\n\n",
                limit, seconds);
    std::printf("%-16s %12s %12s %12s %10s\n", "clients", "sum/s", "least/s", "most/s", "sum/limit");
    for (int of : {1, kCrowd}) {
        std::vector<std::unique_ptr<Wire>> wires;
        for (int c = 0; c < of; ++c) wires.push_back(std::make_unique<Wire>(server.port));
        std::unique_ptr<std::atomic<long long>[]> got(new std::atomic<long long>[size_t(of)]());
        std::atomic<bool> stop{false};
        std::vector<std::thread> crowd;
        for (int c = 0; c < of; ++c)
            crowd.emplace_back([&, c] {
                unsigned char r[2048];
                for (uint32_t i = 0; !stop; ++i)
                    got[size_t(c)] += wires[size_t(c)]->Call(Request(0x42, 0, uint16_t(i), (i % 1024) * 1024, Text("t.bin")), r);
            });
        // The first second lets the burst allowance go and every client start.
        std::this_thread::sleep_for(std::chrono::seconds(1));
        std::vector<double> start, end;
        for (int c = 0; c < of; ++c) start.push_back(double(got[size_t(c)]));
        auto t0 = Clock::now();
        std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
        for (int c = 0; c < of; ++c) end.push_back(double(got[size_t(c)]));
        double took = std::chrono::duration<double>(Clock::now() - t0).count();
        stop = true;
        for (auto& t : crowd) t.join();
        double sum = 0, least = 1e18, most = 0;
        for (int c = 0; c < of; ++c) {
            double rate = (end[size_t(c)] - start[size_t(c)]) / took;
            sum += rate;
            least = std::min(least, rate);
            most = std::max(most, rate);
        }
        std::printf("%-16d %12.0f %12.0f %12.0f %10.3f\n", of, sum, least, most, sum / limit);
        std::fflush(stdout);
    }
    server.Stop();
}

int main(int argc, char** argv) {
    int runs = argc > 1 ? std::atoi(argv[1]) : 5;
    if (runs < 1) runs = 1;
    bool quick = argc > 2 && std::string(argv[2]) == "quick";
    if (argc > 2 && std::string(argv[2]) == "throughput") {
        ThroughputRows(10);
        return 0;
    }
    bool streamOnly = argc > 2 && std::string(argv[2]) == "stream";

    Settings settings; // first-run defaults but for port, root and the log
    settings.flags["Logging"] = 0;
    if (const char* program = std::getenv("VFSPD_BENCH_PROGRAM")) settings.program = program;
    Server vfspd(settings);
    {
        std::ofstream big(vfspd.root + "/big.bin", std::ios::binary);
        std::vector<char> block(1 << 20);
        for (size_t i = 0; i < block.size(); ++i) block[i] = char(i * 7);
        for (size_t i = 0; i < kFile / block.size(); ++i) big.write(block.data(), long(block.size()));
    }
    {
        std::ofstream mib(vfspd.root + "/mib.bin", std::ios::binary);
        mib << std::string(1 << 20, 'm');
    }
    for (int n : {1000, 10000, 50000, kFloodEntries}) MakeEntries(vfspd.root + "/d" + std::to_string(n), n);

    uint16_t barePort = FreeUdpPort();
    TempDir echoDir;
    pid_t bare = StartWine({std::string(VFSPD_WIN_DIR) + "/echo.exe", std::to_string(barePort)}, echoDir.path);
    // Each client talks to both servers, from a port of its own.
    std::vector<std::unique_ptr<Wire>> wires[2];
    for (int c = 0; c < kCrowd; ++c) {
        wires[0].push_back(std::make_unique<Wire>(barePort));
        wires[1].push_back(std::make_unique<Wire>(vfspd.port));
    }
    {
        unsigned char r[2048];
        wires[0][0]->Call(Request(0x4A, 0, 0, 0), r); // wait until the echo is up
    }
    auto stopEcho = [&] {
        kill(bare, SIGTERM);
        waitpid(bare, nullptr, 0);
    };
    if (streamOnly) {
        StreamRows(vfspd.port, vfspd.root, barePort, runs);
        stopEcho();
        return vfspd.Stop() == 0 ? 0 : 1;
    }

    std::printf("Requests per second on 127.0.0.1 of stop-and-wait clients, one and\n"
                "then %d at once (totals), each sending its share of the workload. bare:\n"
                "an echo on the GUI thread; vfspd: logging off, uploads allowed. Each of\n"
                "%d runs sends the workload to both in turns of %d requests a client,\n"
                "so that load from elsewhere falls on both alike. Rates: medians of the\n"
                "runs' rates; ratio: median of the runs' ratios of vfspd's rate to the\n"
                "echo's.\n\n",
                kCrowd, runs, int(kTurn));
    std::printf("%-30s %9s %9s %9s %9s\n", "workload", "requests", "bare/s", "vfspd/s", "vs bare");
    using Make = std::function<Requests(int run, int client, int of)>;
    auto row = [&](const char* name, int of, const Make& make) {
        std::vector<double> rate[2], ratio;
        size_t total = 0;
        for (int run = 0; run < runs; ++run) {
            std::vector<Requests> requests;
            size_t longest = 0;
            total = 0;
            for (int c = 0; c < of; ++c) {
                requests.push_back(make(run, c, of));
                longest = std::max(longest, requests.back().size());
                total += requests.back().size();
            }
            double seconds[2] = {0, 0};
            for (size_t from = 0, turn = 0; from < longest; from += kTurn, ++turn)
                for (size_t k = 0; k < 2; ++k) {
                    size_t s = (turn + k) % 2; // each goes first in turn
                    seconds[s] += Seconds([&] {
                        std::vector<std::thread> crowd;
                        for (int c = 0; c < of; ++c)
                            crowd.emplace_back([&, c] {
                                unsigned char r[2048];
                                const Requests& mine = requests[size_t(c)];
                                for (size_t i = from; i < std::min(mine.size(), from + kTurn); ++i)
                                    wires[s][size_t(c)]->Call(mine[i], r);
                            });
                        for (auto& t : crowd) t.join();
                    });
                }
            for (int s = 0; s < 2; ++s) rate[s].push_back(double(total) / seconds[s]);
            ratio.push_back(seconds[0] / seconds[1]);
        }
        std::printf("%-30s %9zu %9.0f %9.0f %9.2f\n", name, total, Median(rate[0]), Median(rate[1]),
                    Median(ratio));
        std::fflush(stdout);
    };
    auto versions = [](int, int, int of) { return Versions(of); };
    auto download = [](int, int c, int of) { return Download("big.bin", c, of); };
    auto upload = [](int run, int c, int of) {
        return Upload("up" + std::to_string(run) + "-" + std::to_string(c) + ".bin", of);
    };
    row("version, one client", 1, versions);
    row("version, eight clients", kCrowd, versions);
    if (quick) {
        stopEcho();
        return 0;
    }
    row("download 1 KiB, one client", 1, download);
    row("download 1 KiB, eight clients", kCrowd, download);
    row("upload 1 KiB, one client", 1, upload);
    row("upload 1 KiB, eight clients", kCrowd, upload);
    StreamRows(vfspd.port, vfspd.root, barePort, runs);
    stopEcho();
    Wire& vw = *wires[1][0];

    std::printf("\nA 1 MiB file fetched whole by real clients, seconds, median of %d.\n\n", runs);
    std::printf("libfsplib                  %9.3f\n",
                Fetch([&] { return FsplibGet(vfspd.port, "mib.bin", 1 << 20); }, runs));
    std::printf("elinks -source             %9.3f\n",
                Fetch([&] { return ElinksGet(vfspd.port, "mib.bin", 1 << 20); }, runs));
    std::fflush(stdout);

    // One client asks for position 0 of a large directory nonstop while
    // another asks for the version; what the second waits is the figure.
    std::printf("\nListing flood: an honest client's version round trips (ms), alone and\n"
                "while another client asks for position 0 of a %d-entry directory\n"
                "nonstop (stop-and-wait). %d round trips each.\n\n",
                kFloodEntries, kHonest);
    std::printf("%-26s %9s %9s %9s %14s\n", "honest client", "median", "p90", "max", "flood req/s");
    auto trips = [&](const char* name, bool flood) {
        std::atomic<bool> stop{false};
        std::atomic<long> flooded{0};
        std::thread flooder;
        if (flood) {
            flooder = std::thread([&] {
                Wire fl(vfspd.port);
                unsigned char r[2048];
                Bytes dir = Text("d" + std::to_string(kFloodEntries));
                for (uint16_t i = 0; !stop; ++i) {
                    fl.Call(Request(0x41, 0, i, 0, dir), r);
                    ++flooded;
                }
            });
            while (flooded < 3) std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        long before = flooded;
        auto t0 = Clock::now();
        std::vector<double> ms = VersionTrips(vw, kHonest);
        double seconds = std::chrono::duration<double>(Clock::now() - t0).count();
        long during = flooded - before;
        stop = true;
        if (flooder.joinable()) flooder.join();
        std::printf("%-26s %9.2f %9.2f %9.1f ", name, Median(ms), Percentile(ms, 0.9),
                    *std::max_element(ms.begin(), ms.end()));
        if (flood) std::printf("%14.0f\n", double(during) / seconds);
        else std::printf("%14s\n", "-");
        std::fflush(stdout);
    };
    trips("alone", false);
    trips("under the flood", true);

    // Each listing is of a directory just changed, so it enumerates.
    std::printf("\nWhole listings read as libfsplib reads them, each of a directory just\n"
                "changed (so enumerated afresh); medians of %d runs.\n\n",
                runs);
    std::printf("%-26s %9s %9s\n", "entries", "blocks", "seconds");
    const int sizes[3] = {1000, 10000, 50000};
    std::vector<double> t[3];
    int blocks[3] = {0, 0, 0};
    for (int run = 0; run < runs; ++run)
        for (int k = 0; k < 3; ++k) {
            std::string name = "d" + std::to_string(sizes[k]);
            Touch(vfspd.root + "/" + name);
            t[k].push_back(Seconds([&] { blocks[k] = List(vw, name); }));
        }
    for (int k = 0; k < 3; ++k) std::printf("%-26d %9d %9.3f\n", sizes[k], blocks[k], Median(t[k]));
    double t1k = Median(t[0]), t10k = Median(t[1]), t50k = Median(t[2]);
    std::printf("time(10000)/time(1000)     %.2f\n", t10k / t1k);
    std::printf("time(50000)/time(10000)    %.2f\n", t50k / t10k);
    std::printf("vfspd peak working set     %.1f MiB\n", PeakKiB(vfspd.Pid()) / 1024.0);
    long resends[2] = {0, 0};
    for (int k = 0; k < 2; ++k)
        for (auto& w : wires[k]) resends[k] += w->resends;
    std::printf("resends                    bare %ld, vfspd %ld\n", resends[0], resends[1]);
    int status = vfspd.Stop();
    ThroughputRows(10);
    return status == 0 ? 0 : 1;
}
