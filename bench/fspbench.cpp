// Measures vfspd.exe under Wine against two references run side by side
// with it (bench/echo.cpp): the bare echo, and the floor, an echo that does
// the window work vfspd does for every datagram. One stop-and-wait client
// on 127.0.0.1 drives each in turn; figures are medians of the runs.
// Usage: fspbench [runs] [quick]   ("quick": the version row alone)
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
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
#include <string>
#include <thread>
#include <vector>

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
    // 500 ms. Returns the reply's size.
    int Call(const Bytes& request, unsigned char* reply) {
        uint16_t seq = fsp::GetU16(request.data() + 4);
        for (int attempt = 0; attempt < 20; ++attempt) {
            send(fd, request.data(), request.size(), 0);
            pollfd p{fd, POLLIN, 0};
            while (poll(&p, 1, 500) > 0) {
                ssize_t n = recv(fd, reply, 2048, 0);
                if (n >= 12 && fsp::GetU16(reply + 4) == seq) return int(n);
            }
            ++resends;
        }
        std::fprintf(stderr, "fspbench: no reply after 20 tries; is the server up?\n");
        std::exit(1);
    }
    long resends = 0;

private:
    int fd;
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
const size_t kTurn = 100; // requests each server takes in a row

// A workload: the requests one client sends, in order.
using Requests = std::vector<Bytes>;

Requests Versions() {
    Requests r;
    for (int i = 0; i < kVersions; ++i) r.push_back(Request(0x10, 0, uint16_t(i), 0));
    return r;
}

// The whole file, block by block, to the empty block at its end.
Requests Download(const std::string& name) {
    Requests r;
    for (int i = 0; i <= kBlocks; ++i) r.push_back(Request(0x42, 0, uint16_t(i), uint32_t(i) * 1024, Text(name)));
    return r;
}

// A file in pieces, and its install.
Requests Upload(const std::string& name) {
    Requests r;
    Bytes piece(1024, 'u');
    for (int i = 0; i < kBlocks; ++i) r.push_back(Request(0x43, 0, uint16_t(i), uint32_t(i) * 1024, piece));
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

pid_t StartEcho(uint16_t port, const char* mode, const std::string& cwd) {
    std::vector<std::string> args{std::string(VFSPD_WIN_DIR) + "/echo.exe", std::to_string(port)};
    if (*mode) args.push_back(mode);
    return StartWine(args, cwd);
}
} // namespace

int main(int argc, char** argv) {
    int runs = argc > 1 ? std::atoi(argv[1]) : 5;
    if (runs < 1) runs = 1;
    bool quick = argc > 2 && std::string(argv[2]) == "quick";

    Settings settings; // first-run defaults but for port, root and the log
    settings.flags["Logging"] = 0;
    Server vfspd(settings);
    {
        std::ofstream big(vfspd.root + "/big.bin", std::ios::binary);
        std::vector<char> block(1 << 20);
        for (size_t i = 0; i < block.size(); ++i) block[i] = char(i * 7);
        for (size_t i = 0; i < kFile / block.size(); ++i) big.write(block.data(), long(block.size()));
    }
    for (int n : {1000, 10000, 50000, kFloodEntries}) MakeEntries(vfspd.root + "/d" + std::to_string(n), n);

    uint16_t barePort = FreeUdpPort(), floorPort = FreeUdpPort();
    while (floorPort == barePort) floorPort = FreeUdpPort();
    TempDir echoDir;
    pid_t bare = StartEcho(barePort, "", echoDir.path);
    pid_t floor = StartEcho(floorPort, "floor", echoDir.path);
    Wire bw(barePort), fw(floorPort), vw(vfspd.port);
    {
        unsigned char r[2048];
        bw.Call(Request(0x4A, 0, 0, 0), r); // wait until both are up
        fw.Call(Request(0x4A, 0, 0, 0), r);
    }
    auto stopEchoes = [&] {
        for (pid_t p : {bare, floor}) {
            kill(p, SIGTERM);
            waitpid(p, nullptr, 0);
        }
    };

    std::printf("Requests per second of one stop-and-wait client on 127.0.0.1. bare: an\n"
                "echo on the GUI thread; floor: the echo plus vfspd's window work per\n"
                "datagram (caption switch, count band invalidated and repainted); vfspd:\n"
                "logging off, uploads allowed. Each of %d runs sends the workload to all\n"
                "three in turns of %d requests, so that load from elsewhere falls on all\n"
                "three alike. Rates: medians of the runs' rates; ratios: medians of the\n"
                "runs' ratios of vfspd's rate to the reference's.\n\n",
                runs, int(kTurn));
    std::printf("%-26s %9s %9s %9s %9s %10s %11s\n", "workload", "requests", "bare/s", "floor/s", "vfspd/s",
                "vs bare", "vs floor");
    Wire* wires[3] = {&bw, &fw, &vw};
    auto row = [&](const char* name, const std::function<Requests(int run)>& make) {
        std::vector<double> rate[3], vsBare, vsFloor;
        size_t count = 0;
        unsigned char r[2048];
        for (int run = 0; run < runs; ++run) {
            Requests requests = make(run);
            count = requests.size();
            double seconds[3] = {0, 0, 0};
            for (size_t from = 0, turn = 0; from < count; from += kTurn, ++turn) {
                size_t to = std::min(count, from + kTurn);
                for (size_t k = 0; k < 3; ++k) {
                    size_t s = (turn + k) % 3; // each goes first in turn
                    seconds[s] += Seconds([&] {
                        for (size_t i = from; i < to; ++i) wires[s]->Call(requests[i], r);
                    });
                }
            }
            for (int s = 0; s < 3; ++s) rate[s].push_back(double(count) / seconds[s]);
            vsBare.push_back(seconds[0] / seconds[2]);
            vsFloor.push_back(seconds[1] / seconds[2]);
        }
        std::printf("%-26s %9zu %9.0f %9.0f %9.0f %10.2f %11.2f\n", name, count, Median(rate[0]),
                    Median(rate[1]), Median(rate[2]), Median(vsBare), Median(vsFloor));
        std::fflush(stdout);
    };
    row("version", [](int) { return Versions(); });
    if (quick) {
        stopEchoes();
        return 0;
    }
    row("download, 1 KiB blocks", [](int) { return Download("big.bin"); });
    row("upload, 1 KiB pieces", [](int run) { return Upload("up" + std::to_string(run) + ".bin"); });
    stopEchoes();

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
    std::printf("resends                    bare %ld, floor %ld, vfspd %ld\n", bw.resends, fw.resends,
                vw.resends);
    return vfspd.Stop() == 0 ? 0 : 1;
}
