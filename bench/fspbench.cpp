// Measures vfspd.exe under Wine against the platform's own limit, an echo
// server with the same receive path, with one stop-and-wait client on
// 127.0.0.1. Prints medians of several runs.
// Usage: fspbench [runs] [version]
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
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
        std::fprintf(stderr, "no reply\n");
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
const size_t kBigFile = 20u << 20;
const int kBlocks = int(kBigFile / 1024);

void Versions(Wire& w) {
    unsigned char r[2048];
    for (int i = 0; i < kVersions; ++i) w.Call(Request(0x10, 0, uint16_t(i), 0), r);
}

void Download(Wire& w, const std::string& name) {
    unsigned char r[2048];
    Bytes path = Text(name);
    for (int i = 0; i <= kBlocks; ++i) w.Call(Request(0x42, 0, uint16_t(i), uint32_t(i) * 1024, path), r);
}

void Upload(Wire& w, const std::string& name, bool install) {
    unsigned char r[2048];
    Bytes piece(1024, 'u');
    for (int i = 0; i < kBlocks; ++i) w.Call(Request(0x43, 0, uint16_t(i), uint32_t(i) * 1024, piece), r);
    if (install) w.Call(Request(0x44, 0, 1, 0, Text(name)), r);
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
} // namespace

int main(int argc, char** argv) {
    int runs = argc > 1 ? std::atoi(argv[1]) : 5;
    if (runs < 1) runs = 1;
    // "version" as a second argument measures version requests alone.
    bool quick = argc > 2 && std::string(argv[2]) == "version";

    Settings settings; // first-run defaults but for port and root
    Server vfspd(settings);
    {
        std::ofstream big(vfspd.root + "/big.bin", std::ios::binary);
        std::vector<char> block(1 << 20);
        for (size_t i = 0; i < block.size(); ++i) block[i] = char(i * 7);
        for (size_t i = 0; i < kBigFile / block.size(); ++i) big.write(block.data(), long(block.size()));
    }
    for (int n : {1000, 10000, 50000}) {
        std::string d = vfspd.root + "/d" + std::to_string(n);
        fs::create_directories(d);
        for (int i = 0; i < n; ++i) std::ofstream(d + "/entry-" + std::to_string(i) + ".txt");
    }

    uint16_t echoPort = FreeUdpPort();
    TempDir echoDir;
    pid_t echo = StartWine({std::string(VFSPD_WIN_DIR) + "/echo.exe", std::to_string(echoPort)},
                           echoDir.path);
    Wire ew(echoPort), vw(vfspd.port);
    {
        unsigned char r[2048];
        ew.Call(Request(0x4A, 0, 0, 0), r); // wait until the echo is up
    }

    std::printf("runs: %d (medians)\n", runs);
    std::printf("%-28s %12s %12s %10s %8s\n", "workload", "echo req/s", "vfspd req/s", "vfspd MiB/s", "ratio");
    auto row = [&](const char* name, int requests, double mib, const std::function<void(Wire&)>& f) {
        std::vector<double> e, v;
        for (int i = 0; i < runs; ++i) {
            e.push_back(Seconds([&] { f(ew); }));
            v.push_back(Seconds([&] { f(vw); }));
        }
        double er = requests / Median(e), vr = requests / Median(v);
        std::printf("%-28s %12.0f %12.0f %10.2f %8.2f\n", name, er, vr, mib > 0 ? mib / Median(v) : 0.0, vr / er);
        std::fflush(stdout);
    };
    row("version", kVersions, 0, Versions);
    if (quick) {
        kill(echo, SIGTERM);
        waitpid(echo, nullptr, 0);
        return 0;
    }
    row("download 20 MiB / 1024", kBlocks + 1, 20, [](Wire& w) { Download(w, "big.bin"); });
    int upload = 0;
    row("upload 20 MiB / 1024 + inst", kBlocks + 1, 20, [&](Wire& w) {
        Upload(w, "up" + std::to_string(upload++) + ".bin", true);
    });

    std::printf("\n%-28s %10s %12s\n", "listing (vfspd)", "blocks", "seconds");
    double t1k = 0, t10k = 0, t50k = 0;
    for (int n : {1000, 10000, 50000}) {
        std::vector<double> t;
        int blocks = 0;
        for (int i = 0; i < runs; ++i) t.push_back(Seconds([&] { blocks = List(vw, "d" + std::to_string(n)); }));
        double m = Median(t);
        (n == 1000 ? t1k : n == 10000 ? t10k : t50k) = m;
        std::printf("%-28s %10d %12.3f\n", ("entries " + std::to_string(n)).c_str(), blocks, m);
        std::fflush(stdout);
    }
    std::printf("time(10000)/time(1000)   %.2f\n", t10k / t1k);
    std::printf("time(50000)/time(10000)  %.2f\n", t50k / t10k);
    std::printf("vfspd peak working set   %.1f MiB\n", PeakKiB(vfspd.Pid()) / 1024.0);
    std::printf("resends                  echo %ld, vfspd %ld\n", ew.resends, vw.resends);

    kill(echo, SIGTERM);
    waitpid(echo, nullptr, 0);
    vfspd.Stop();
    return 0;
}
