#include "Harness.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <stdexcept>

#include "engine/core/Packet.h"

#ifndef VFSPD_WIN_DIR
#error "VFSPD_WIN_DIR names the Windows build tree"
#endif

namespace fs = std::filesystem;

// libfsplib never frees the address lookup of fsp_open_session.
extern "C" const char* __lsan_default_suppressions() { return "leak:fsp_open_session\n"; }

namespace e2e {

TempDir::TempDir() {
    std::string tmpl = (fs::temp_directory_path() / "vfspd-e2e-XXXXXX").string();
    std::vector<char> buf(tmpl.begin(), tmpl.end());
    buf.push_back('\0');
    if (!mkdtemp(buf.data())) throw std::runtime_error("mkdtemp failed");
    path = buf.data();
}

TempDir::~TempDir() {
    std::error_code ec;
    fs::remove_all(path, ec);
}

std::string WinPath(const std::string& linuxPath) {
    std::string p = "Z:" + linuxPath;
    for (char& c : p)
        if (c == '/') c = '\\';
    return p;
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

void WriteFile(const std::string& path, const std::string& content) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << content;
}

bool Exists(const std::string& path) {
    struct stat st;
    return lstat(path.c_str(), &st) == 0;
}

static pid_t Spawn(const std::vector<std::string>& args, const std::string& cwd,
                   const std::string& outputFile) {
    pid_t pid = fork();
    if (pid == 0) {
        if (!cwd.empty() && chdir(cwd.c_str()) != 0) _exit(127);
        int out = open(outputFile.empty() ? "/dev/null" : outputFile.c_str(),
                       O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (out >= 0) {
            dup2(out, 1);
            dup2(out, 2);
        }
        int in = open("/dev/null", O_RDONLY);
        if (in >= 0) dup2(in, 0);
        setenv("WINEPREFIX", Prefix().c_str(), 1);
        setenv("WINEDEBUG", "-all", 1);
        // Else a Start-menu entry made here becomes one of the user's desktop.
        // Overrides a test set stay.
        const char* overrides = std::getenv("WINEDLLOVERRIDES");
        std::string all = "winemenubuilder.exe=d";
        if (overrides && *overrides) all = std::string(overrides) + ";" + all;
        setenv("WINEDLLOVERRIDES", all.c_str(), 1);
        std::vector<char*> argv;
        for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execvp(argv[0], argv.data());
        _exit(127);
    }
    return pid;
}

const std::string& Prefix() {
    static std::string prefix = [] {
        if (const char* p = std::getenv("WINEPREFIX"); p && *p) return std::string(p);
        static TempDir made;
        std::string p = made.path + "/prefix";
        setenv("WINEPREFIX", p.c_str(), 1);
        return p;
    }();
    return prefix;
}

pid_t StartWine(const std::vector<std::string>& args, const std::string& cwd,
                const std::string& outputFile) {
    std::vector<std::string> full{"wine"};
    full.insert(full.end(), args.begin(), args.end());
    return Spawn(full, cwd, outputFile);
}

int RunWine(const std::vector<std::string>& args, const std::string& cwd, std::string* output) {
    TempDir scratch;
    std::string out = scratch.path + "/out.txt";
    std::vector<std::string> full{"wine"};
    full.insert(full.end(), args.begin(), args.end());
    pid_t pid = Spawn(full, cwd, out);
    int status = 0;
    waitpid(pid, &status, 0);
    if (output) *output = ReadFile(out);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::map<std::string, std::string> RegQuery(const std::string& key) {
    std::string out;
    RunWine({"reg", "query", "HKLM\\" + key}, "", &out);
    std::map<std::string, std::string> values;
    std::istringstream lines(out);
    std::string line;
    std::regex row(R"(^\s+(\S+)\s+(REG_\w+)\s+(.*?)\r?$)");
    while (std::getline(lines, line)) {
        std::smatch m;
        if (std::regex_match(line, m, row)) values[m[1]] = m[3];
    }
    return values;
}

uint16_t FreeUdpPort() {
    int fd = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in a = {};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof(a));
    socklen_t len = sizeof(a);
    getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
    close(fd);
    return ntohs(a.sin_port);
}

static std::string RegString(const std::string& s) {
    std::string out = "\"";
    for (char c : s) {
        if (c == '\\' || c == '"') out += '\\';
        out += c;
    }
    return out + "\"";
}

Server::Server(Settings settings) {
    root = dir.path + "/root";
    workDir = settings.workDir.empty() ? dir.path + "/work" : settings.workDir;
    fs::create_directories(root);
    if (settings.workDir.empty()) fs::create_directories(workDir);
    // A first run binds the default port, 21.
    port = settings.firstRun ? 21 : settings.port ? uint16_t(*settings.port & 0xFFFF) : FreeUdpPort();
    logFile = workDir + "/VFSPD.LOG";

    std::string reg = "REGEDIT4\r\n\r\n[-HKEY_LOCAL_MACHINE\\Software\\Quorvane]\r\n\r\n";
    if (!settings.firstRun) {
        char buf[64];
        reg += "[HKEY_LOCAL_MACHINE\\Software\\Quorvane\\VrelFSPd\\Server]\r\n";
        std::snprintf(buf, sizeof(buf), "\"FSPPort\"=dword:%08x\r\n",
                      settings.port ? *settings.port : uint32_t(port));
        reg += buf;
        for (const auto& [name, value] : settings.flags) {
            std::snprintf(buf, sizeof(buf), "\"%s\"=dword:%08x\r\n", name.c_str(), value);
            reg += buf;
        }
        reg += "\r\n[HKEY_LOCAL_MACHINE\\Software\\Quorvane\\VrelFSPd\\Location]\r\n";
        reg += "\"RootPath\"=" + RegString(settings.rootPath ? *settings.rootPath : WinPath(root)) + "\r\n";
        reg += "\"LogPath\"=" + RegString(settings.logPath ? *settings.logPath : "VFSPD.LOG") + "\r\n";
    }
    std::string regFile = dir.path + "/settings.reg";
    WriteFile(regFile, reg);
    if (RunWine({"regedit", "/s", regFile}) != 0) throw std::runtime_error("regedit failed");
    for (const auto& v : settings.values)
        RunWine({"reg", "add", "HKLM\\Software\\Quorvane\\VrelFSPd\\" + v[0], "/v", v[1], "/t", v[2], "/d", v[3], "/f"});

    // VFSPD_E2E_PROGRAM runs the tests against another build, to measure before and after.
    const char* other = std::getenv("VFSPD_E2E_PROGRAM");
    std::string program = !settings.program.empty() ? settings.program
                          : other && *other          ? std::string(other)
                                                     : std::string(VFSPD_WIN_DIR) + "/vfspd.exe";
    pid = Spawn({"wine", program}, workDir, dir.path + "/wine.out");

    if (!settings.awaitAnswer) return;
    // Ready when it answers: a bye is answered and leaves no log line.
    Client probe(port);
    bool up = WaitFor([&] {
        if (!Running()) return true;
        probe.Send(Request(0x4A, 0, 0xFFFF, 0));
        return probe.Receive(std::chrono::milliseconds(200)).has_value();
    }, std::chrono::milliseconds(60000));
    if (!up || !Running()) {
        if (Running()) {
            kill(pid, SIGKILL);
            waitpid(pid, nullptr, 0);
            pid = -1;
        }
        throw std::runtime_error("vfspd.exe did not answer on its port");
    }
}

bool Server::Running() {
    if (pid <= 0) return false;
    int st = 0;
    pid_t r = waitpid(pid, &st, WNOHANG);
    if (r == pid) {
        status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
        pid = -1;
        return false;
    }
    return true;
}

int Server::Stop() {
    if (Running()) {
        RunWine({std::string(VFSPD_WIN_DIR) + "/closewin.exe"});
        if (!WaitFor([&] { return !Running(); }, std::chrono::milliseconds(30000))) {
            kill(pid, SIGKILL);
            waitpid(pid, nullptr, 0);
            pid = -1;
            status = -1;
        }
    }
    return status;
}

void Server::Kill() {
    if (!Running()) return;
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
    pid = -1;
}

Server::~Server() { Stop(); }

std::string Server::Log() const { return ReadFile(logFile); }

Client::Client(uint16_t serverPort, const char* localAddress) {
    fd = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in a = {};
    if (localAddress) {
        a.sin_family = AF_INET;
        inet_pton(AF_INET, localAddress, &a.sin_addr);
        bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof(a));
        a = {};
    }
    a.sin_family = AF_INET;
    a.sin_port = htons(serverPort);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    // Connected: only the server's replies reach this socket.
    connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof(a));
}

Client::~Client() { close(fd); }

void Client::Send(const Bytes& datagram) { send(fd, datagram.data(), datagram.size(), 0); }

std::optional<Bytes> Client::Receive(std::chrono::milliseconds timeout) {
    pollfd p{fd, POLLIN, 0};
    auto end = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
        if (left.count() < 0) return std::nullopt;
        int r = poll(&p, 1, int(left.count()));
        if (r <= 0) return std::nullopt;
        Bytes buf(2048);
        ssize_t n = recv(fd, buf.data(), buf.size(), 0);
        if (n < 0) continue; // e.g. a port-unreachable report while starting
        buf.resize(size_t(n));
        return buf;
    }
}

std::optional<Bytes> Client::Transact(const Bytes& datagram) {
    uint16_t seq = fsp::GetU16(datagram.data() + 4);
    for (int attempt = 0; attempt < 5; ++attempt) {
        Send(datagram);
        auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(3000);
        while (std::chrono::steady_clock::now() < end) {
            auto r = Receive(std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now()));
            if (!r) break;
            if (r->size() >= 12 && fsp::GetU16(r->data() + 4) == seq) return r;
        }
    }
    return std::nullopt;
}

Reply Raw::Ask(uint8_t command, const Bytes& data, uint32_t position, const Bytes& extra) {
    auto r = c.Transact(Request(command, key, ++sequence, position, data, extra));
    if (!r) return Reply{};
    Reply d = Decode(*r);
    key = d.key;
    return d;
}

Bytes Request(uint8_t command, uint16_t key, uint16_t sequence, uint32_t position,
              const Bytes& data, const Bytes& extra) {
    Bytes p(12);
    p[0] = command;
    fsp::PutU16(&p[2], key);
    fsp::PutU16(&p[4], sequence);
    fsp::PutU16(&p[6], uint32_t(data.size()));
    fsp::PutU32(&p[8], position);
    p.insert(p.end(), data.begin(), data.end());
    p.insert(p.end(), extra.begin(), extra.end());
    p[1] = uint8_t(fsp::CalcChecksum(p.data(), int(p.size()), 0));
    return p;
}

Bytes Text(const std::string& s, bool withNul) {
    Bytes b(s.begin(), s.end());
    if (withNul) b.push_back(0);
    return b;
}

Reply Decode(const Bytes& d) {
    Reply r;
    if (d.size() < 12) return r;
    r.command = d[0];
    r.checksum = d[1];
    r.key = fsp::GetU16(&d[2]);
    r.sequence = fsp::GetU16(&d[4]);
    r.dataLength = fsp::GetU16(&d[6]);
    r.position = fsp::GetU32(&d[8]);
    size_t dl = std::min<size_t>(r.dataLength, d.size() - 12);
    r.data.assign(d.begin() + 12, d.begin() + 12 + long(dl));
    r.extra.assign(d.begin() + 12 + long(dl), d.end());
    r.checksumOk = fsp::CalcChecksum(d.data(), int(d.size()), 1) == d[1];
    return r;
}

std::string Reply::DataText() const {
    auto nul = std::find(data.begin(), data.end(), 0);
    return std::string(data.begin(), nul);
}

std::vector<std::string> LogBodies(const std::string& log, std::string* badLine) {
    static const std::regex stamp(
        "(Sun|Mon|Tue|Wed|Thu|Fri|Sat) (Jan|Feb|Mar|Apr|May|Jun|Jul|Aug|Sep|Oct|Nov|Dec) "
        "[0-3][0-9] [0-2][0-9]:[0-5][0-9]:[0-6][0-9] [0-9]{4} (.*)");
    std::vector<std::string> bodies;
    size_t start = 0;
    while (start < log.size()) {
        size_t end = log.find("\r\n", start);
        std::string line = log.substr(start, end == std::string::npos ? std::string::npos : end - start);
        start = end == std::string::npos ? log.size() : end + 2;
        std::smatch m;
        if (std::regex_match(line, m, stamp)) bodies.push_back(m[3]);
        else if (badLine && badLine->empty()) *badLine = line.empty() ? "<empty line>" : line;
    }
    return bodies;
}

std::string Pattern(size_t n, unsigned seed) {
    std::string s(n, '\0');
    uint32_t x = seed * 2654435761u + 1;
    for (size_t i = 0; i < n; ++i) {
        x = x * 1103515245u + 12345u;
        s[i] = char(x >> 16);
    }
    return s;
}

int TempFileCount(const std::string& workDir) {
    std::error_code ec;
    int n = 0;
    for (auto it = fs::directory_iterator(workDir + "/UPLOADS.FSP", ec); !ec && it != fs::directory_iterator(); ++it)
        ++n;
    return n;
}

Bytes B(const std::string& s) { return Bytes(s.begin(), s.end()); }

void ExpectError(const Reply& r, const std::string& text) {
    EXPECT_TRUE(r.checksumOk);
    EXPECT_EQ(r.command, 0x40);
    EXPECT_EQ(r.DataText(), text);
    EXPECT_EQ(r.dataLength, text.size() + 1);
}

void ExpectEmptyAck(const Reply& r, uint8_t command, uint32_t position) {
    EXPECT_TRUE(r.checksumOk);
    EXPECT_EQ(r.command, command) << r.DataText();
    EXPECT_EQ(r.dataLength, 0u);
    EXPECT_EQ(r.position, position);
    EXPECT_TRUE(r.extra.empty());
}

Reply Put(Raw& raw, const std::string& name, const std::string& content) {
    for (size_t at = 0; at < content.size(); at += 1024) {
        Reply r = raw.Ask(0x43, B(content.substr(at, 1024)), uint32_t(at));
        EXPECT_EQ(r.command, 0x43) << r.DataText() << " at " << at;
    }
    return raw.Ask(0x44, Text(name));
}

} // namespace e2e
